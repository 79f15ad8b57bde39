// The surroundings of generated scripts: a scratch folder as the current
// folder (and KEL_TEST_TEMP), the scratch registry key removed before and
// after, and language files that replace the message texts for a while.
#pragma once
#include <windows.h>
#include "support/script_gen.h"
#include "errors.h"
#include <cstdio>
#include <string>

// The generated scripts touch files in the current folder and keys under the
// scratch key: both are made fresh here and removed afterwards.
class Sandbox {
public:
    Sandbox() {
        char tmp[MAX_PATH];
        GetTempPathA(sizeof tmp, tmp);
        dir_ = std::string(tmp) + "kel_fuzz_" + std::to_string(GetCurrentProcessId());
        GetCurrentDirectoryA(sizeof old_, old_);
        CreateDirectoryA(dir_.c_str(), nullptr);
        SetCurrentDirectoryA(dir_.c_str());
        SetEnvironmentVariableA("KEL_TEST_TEMP", dir_.c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratchKey);
    }
    ~Sandbox() {
        SetCurrentDirectoryA(old_);
        empty();
        RemoveDirectoryA(dir_.c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratchKey);
    }
    // Removes the files and folders the scripts wrote (they may be big), so
    // that each run starts from an empty folder (made again if a script
    // removed it).
    void empty() {
        empty(L"\\\\?\\" + std::wstring(dir_.begin(), dir_.end()));
        CreateDirectoryA(dir_.c_str(), nullptr);
    }
    const std::string& dir() const { return dir_; }

private:
    // Wide names with the long-path prefix: scripts make trees deeper than
    // 260 characters.
    static void empty(const std::wstring& dir) {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return;
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring f = dir + L"\\" + name;
            SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                DeleteFileW(f.c_str());
                continue;
            }
            // A link to a folder is removed itself, never followed.
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) empty(f);
            RemoveDirectoryW(f.c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }

    std::string dir_;
    char old_[MAX_PATH] = "";
};

// A language file named TLVDLANG in the current folder, found by the message
// lookup's search while the object lives.
class LanguageFile {
public:
    explicit LanguageFile(const std::string& text) {
        if (FILE* f = fopen("TLVDLANG", "wb")) {
            fwrite(text.data(), 1, text.size(), f);
            fclose(f);
        }
        redecide();
    }
    ~LanguageFile() {
        DeleteFileA("TLVDLANG");
        redecide();
    }
    LanguageFile(const LanguageFile&) = delete;
    LanguageFile& operator=(const LanguageFile&) = delete;

private:
    static void redecide() {
        char dummy[4];
        LoadMyString(nullptr, nullptr, 0, dummy, sizeof dummy);
    }
};
