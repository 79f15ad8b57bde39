// Waiting for windows: WinWaitExist, WinWaitClose and WinWaitReady. Every
// wait checks every 250 milliseconds through the interruptible wait, so the
// script's windows stay responsive and a stop request ends it.
#include "library/windows/win_internal.h"
#include "wait.h"

namespace win {

namespace {

constexpr DWORD kCheckMs = 250;

// Checks in `timeout` seconds: above a day counts as a day, -1 is no limit
// (returned as -1), anything below -1 as 0.
int64_t check_count(int timeout) {
    if (timeout == -1) return -1;
    if (timeout < -1) return 0;
    return static_cast<int64_t>(timeout > 86400 ? 86400 : timeout) * 4;
}

// Whether the program that owns the window answers messages and waits for input.
bool ready_for_input(HWND h) {
    DWORD_PTR answer;
    if (!SendMessageTimeoutW(h, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kCheckMs, &answer)) return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    HANDLE proc = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
    if (!proc) return true;   // nothing more to ask: it answered
    const DWORD idle = WaitForInputIdle(proc, 0);
    CloseHandle(proc);
    return idle != WAIT_TIMEOUT;
}

}  // namespace

bool wait_until(State* st, int timeout, const std::function<bool()>& done) {
    const int64_t checks = check_count(timeout);
    for (int64_t n = 0;; ++n) {
        if (done()) return true;
        if ((checks >= 0 && n >= checks) || !wait_interruptible(st, kCheckMs)) return false;
    }
}

}  // namespace win

using namespace win;

// WinWaitExist(title, timeout): 1 once the window exists (after the
// wait-done delay), 0 on time-out or stop. The empty title is 1 at once.
void fn_winwaitexist(State* st, int, Cell* result, Cell* args, bool) {
    std::wstring title;
    if (!text_arg(st, &args[1], &title)) return;
    if (title.empty()) {
        cell_set_int(st, result, 1);
        return;
    }
    const bool found = wait_until(st, args[2].i, [&] { return static_cast<bool>(lookup(st, title.c_str(), 0)); });
    if (found) pause(st, done_delay(st));
    cell_set_int(st, result, found ? 1 : 0);
}

// WinWaitClose(title [, timeout = -1]): waits while the window exists. 1 when
// it was there at least once during the wait, 0 when it never was.
void fn_winwaitclose(State* st, int nargs, Cell* result, Cell* args, bool) {
    std::wstring title;
    if (!text_arg(st, &args[1], &title)) return;
    const int timeout = nargs >= 2 ? args[2].i : -1;
    // A window that was just asked to close often takes a moment to go.
    bool seen = false;
    if (pause(st, 1500)) {
        const int64_t checks = timeout > 86400 ? 345600 : check_count(timeout);
        for (int64_t n = 0; lookup(st, title.c_str(), 0); ++n) {
            seen = true;
            if ((checks >= 0 && n >= checks) || !wait_interruptible(st, kCheckMs)) break;
        }
    }
    if (seen) pause(st, done_delay(st));
    cell_set_int(st, result, seen ? 1 : 0);
}

// WinWaitReady(title, timeout): 1 once the window exists and its program
// answers and waits for input, 0 on time-out or stop.
void fn_winwaitready(State* st, int, Cell* result, Cell* args, bool) {
    std::wstring title;
    if (!text_arg(st, &args[1], &title)) return;
    const bool ready = wait_until(st, args[2].i, [&] {
        const Found f = lookup(st, title.c_str(), 0);
        return f && ready_for_input(f.hwnd);
    });
    cell_set_int(st, result, ready ? 1 : 0);
}
