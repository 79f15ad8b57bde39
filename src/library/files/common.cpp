// Helpers shared by the files family's modules.
#include "library/files/internal.h"
#include <cstring>

ScopedFind::ScopedFind(const wchar_t* pattern, WIN32_FIND_DATAW* fd) {
    DWORD oldMode = 0;
    const BOOL changed = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
    h_ = FindFirstFileW(pattern, fd);
    if (changed) SetThreadErrorMode(oldMode, nullptr);
}

HANDLE open_file(const wchar_t* name, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    DWORD oldMode = 0;
    const BOOL changed = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
    HANDLE h = CreateFileW(name, access, share, nullptr, disposition, flags, nullptr);
    if (changed) {
        const DWORD e = GetLastError();
        SetThreadErrorMode(oldMode, nullptr);
        SetLastError(e);
    }
    return h;
}

bool set_wide_result(State* st, Cell* result, const std::wstring& s) {
    return cell_set_wstr(st, result, s.c_str(), s.size());
}

bool set_text_result(State* st, Cell* result, const std::wstring& s, bool wide) {
    if (!wide && st->codePage != CP_UTF8 && !s.empty()) {
        // Names that the code page cannot spell stay wide.
        BOOL lossy = FALSE;
        WideCharToMultiByte(st->codePage, WC_NO_BEST_FIT_CHARS, s.c_str(), static_cast<int>(s.size()), nullptr, 0,
                            nullptr, &lossy);
        wide = lossy != FALSE;
    }
    if (wide) return set_wide_result(st, result, s);
    const std::string a = to_ansi(st, s.c_str(), s.size());
    return cell_set_str(st, result, a.c_str(), a.size());
}

std::string to_ansi(State* st, const wchar_t* s, size_t n) {
    std::string a;
    if (!n) return a;
    const int k = WideCharToMultiByte(st->codePage, 0, s, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    if (k <= 0) return a;
    a.resize(static_cast<size_t>(k));
    WideCharToMultiByte(st->codePage, 0, s, static_cast<int>(n), &a[0], k, nullptr, nullptr);
    return a;
}

std::wstring to_wide(State* st, const char* s, size_t n) {
    std::wstring w;
    if (!n) return w;
    const int k = MultiByteToWideChar(st->codePage, 0, s, static_cast<int>(n), nullptr, 0);
    if (k <= 0) return w;
    w.resize(static_cast<size_t>(k));
    MultiByteToWideChar(st->codePage, 0, s, static_cast<int>(n), &w[0], k);
    return w;
}

DWORD path_attributes(const wchar_t* path) {
    DWORD oldMode = 0;
    const BOOL changed = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
    const DWORD a = GetFileAttributesW(path);
    if (changed) SetThreadErrorMode(oldMode, nullptr);
    return a;
}

size_t name_start(const std::wstring& path) {
    size_t start = WidePath::path_prefix(path.c_str());
    for (size_t i = start; i < path.size(); ++i)
        if (path[i] == L'\\' || path[i] == L'/' || path[i] == L':') start = i + 1;
    return start;
}

bool has_wildcards(const wchar_t* s) { return wcspbrk(s, L"*?") != nullptr; }

void size_result(State* st, Cell* result, uint64_t bytes, int format, bool int64ok) {
    if (format == 1) {
        std::string digits = std::to_string(bytes), text;
        for (size_t i = 0; i < digits.size(); ++i) {
            if (i && (digits.size() - i) % 3 == 0) text += ',';
            text += digits[i];
        }
        cell_set_str(st, result, text.c_str(), text.size());
    } else if (bytes <= 0x7FFFFFFFULL) {
        cell_set_int(st, result, static_cast<int32_t>(bytes));
    } else if (int64ok) {
        cell_set_int64(st, result, static_cast<int64_t>(bytes));
    } else {
        cell_set_float(st, result, static_cast<double>(bytes));
    }
}

std::wstring arg_text(State* st, const Cell* arg) {
    if (arg->type & TW_UNICODE) return cell_wstr(st, arg);
    const char* a = cell_str(st, arg);
    return to_wide(st, a, strlen(a));
}
