// A user at the screen for UI tests: a second thread that waits for a
// window by its title, works its controls and presses its buttons, while the
// interpreter thread waits in the modal dialog.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

inline HWND WaitWindow(const std::string& title, int ms = 20000) {
    for (int waited = 0; waited < ms; waited += 50) {
        HWND w = FindWindowA("#32770", title.c_str());
        if (w && IsWindowVisible(w)) return w;
        Sleep(50);
    }
    return nullptr;
}

inline void WaitGone(HWND w) {
    for (int i = 0; i < 400 && IsWindow(w); ++i) Sleep(50);
}

// Runs `act` on a second thread while the test thread runs the interpreter. If the
// user never finds its window, every dialog of the process is closed so that
// the test fails instead of hanging.
class User {
public:
    explicit User(std::function<bool()> act) : t_([this, act] { ok_ = act(); if (!ok_) CloseAll(); }) {}
    ~User() { if (t_.joinable()) t_.join(); }
    bool Finish() { t_.join(); return ok_; }
private:
    static void CloseAll() {
        EnumWindows([](HWND w, LPARAM) -> BOOL {
            DWORD pid;
            GetWindowThreadProcessId(w, &pid);
            char cls[32];
            GetClassNameA(w, cls, sizeof cls);
            if (pid == GetCurrentProcessId() && strcmp(cls, "#32770") == 0) PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
            return TRUE;
        }, 0);
    }
    std::atomic<bool> ok_{false};
    std::thread t_;
};

