// The long-path routine (see longpath.h).
#include "library/files/longpath.h"
#include "value.h"
#include <cwchar>

size_t WidePath::path_prefix(const wchar_t* n) {
    if (wcsncmp(n, L"\\\\?\\", 4) != 0) return 0;
    return _wcsnicmp(n + 4, L"UNC\\", 4) == 0 ? 8 : 4;
}

bool absolute_path(const std::wstring& path, std::wstring* out) {
    out->assign(LONG_PATH_MAX + 1, L'\0');
    const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(out->size()), &(*out)[0], nullptr);
    if (n == 0 || n > LONG_PATH_MAX) return false;
    out->resize(n);
    return true;
}

std::wstring absolute_or_given(const std::wstring& path) {
    std::wstring full;
    return absolute_path(path, &full) ? full : path;
}

bool file_long_path(State* st, const wchar_t* name, size_t len, WidePath* out) {
    std::wstring& t = out->text_;
    t.assign(name, len);
    if (len < MAX_PATH || WidePath::path_prefix(t.c_str())) {
        if (len <= LONG_PATH_MAX) return true;
        st->err = 1433;
        return false;
    }
    if (len > LONG_PATH_MAX) {
        st->err = 1433;
        return false;
    }
    std::wstring full;
    if (!absolute_path(t, &full)) {
        st->err = 1433;
        return false;
    }
    if (full.compare(0, 2, L"\\\\") == 0) t = L"\\\\?\\UNC\\" + full.substr(2);
    else t = L"\\\\?\\" + full;
    if (t.size() > LONG_PATH_MAX) {
        st->err = 1433;
        return false;
    }
    return true;
}

bool file_long_path(State* st, const Cell* arg, WidePath* out) {
    if (arg->type & TW_UNICODE) {
        const wchar_t* w = cell_wstr(st, arg);
        return file_long_path(st, w, wcslen(w), out);
    }
    return file_long_path_ansi(st, cell_str(st, arg), out);
}

bool file_long_path_ansi(State* st, const char* name, WidePath* out) {
    const int n = MultiByteToWideChar(st->codePage, 0, name, -1, nullptr, 0);
    if (n <= 0 || static_cast<size_t>(n) > LONG_PATH_MAX + 1) {
        st->err = 1433;
        return false;
    }
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(st->codePage, 0, name, -1, &w[0], n);
    w.resize(static_cast<size_t>(n) - 1);
    return file_long_path(st, w.c_str(), w.size(), out);
}
