// Helpers for tests that need the library's resources (the message table and
// the dialogs): they load the built CXDXA64I.dll and point the core at it, and
// they install a temporary language file.
#pragma once
#include <gtest/gtest.h>
#include "errors.h"
#include <cstdio>
#include <string>

// build/tests/unit/<test>.exe -> build/bin/CXDXA64I.dll
inline std::string kel_dll_path() {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string p(exe);
    p.resize(p.find_last_of('\\'));                 // build\tests\unit
    p.resize(p.find_last_of('\\'));                 // build\tests
    p.resize(p.find_last_of('\\'));                 // build
    return p + "\\bin\\CXDXA64I.dll";
}

inline std::string dir_of(const std::string& path) { return path.substr(0, path.find_last_of('\\') + 1); }

// Loads the library once per test program and makes it the module whose
// resources the core uses.
inline HMODULE use_kel_resources() {
    static HMODULE dll = LoadLibraryA(kel_dll_path().c_str());
    if (dll) g_hInst = dll;
    return dll;
}

// Text of a dialog's control, read from any thread or process.
inline std::string dlg_item_text(HWND dlg, int id) {
    char buf[4096] = "";
    GetDlgItemTextA(dlg, id, buf, sizeof buf);
    return buf;
}

// Presses a dialog button the way a click does: the dialog gets WM_COMMAND.
inline void press_button(HWND dlg, int id) {
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

inline void write_file(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

// Sets the Language setting in the registry for the life of the object and
// makes the message lookup decide the language again (id 0) on entry and exit.
class LanguageSetting {
public:
    explicit LanguageSetting(const char* lang) {
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        DWORD type, size = sizeof old_;
        had_ = RegQueryValueExA(key_, "Language", nullptr, &type, reinterpret_cast<BYTE*>(old_), &size) == 0;
        RegSetValueExA(key_, "Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(lang),
                       static_cast<DWORD>(strlen(lang) + 1));
        char dummy[4];
        LoadMyString(nullptr, g_hInst, 0, dummy, sizeof dummy);
    }
    ~LanguageSetting() {
        if (had_) RegSetValueExA(key_, "Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(old_),
                                 static_cast<DWORD>(strlen(old_) + 1));
        else RegDeleteValueA(key_, "Language");
        RegCloseKey(key_);
        char dummy[4];
        LoadMyString(nullptr, g_hInst, 0, dummy, sizeof dummy);
    }
    LanguageSetting(const LanguageSetting&) = delete;
    LanguageSetting& operator=(const LanguageSetting&) = delete;
private:
    static constexpr const char* kKey = "Software\\Talvorn\\Settings\\CORVEXRC\\MAIN";
    HKEY key_ = nullptr;
    bool had_ = false;
    char old_[64] = "";
};
