// Enumeration and key information: RegQueryKeys, RegQueryKey, RegQueryItem,
// RegQueryKeyLastWriteTime and RegExistKey. Lists are wide item lists
// separated by tabs, in the order the system enumerates.
#include "library/registry/reg_internal.h"
#include "errors.h"
#include <cstdio>

namespace reg {

namespace {

constexpr DWORD KEY_NAME_MAX = 256;       // key names: up to 255 characters
constexpr DWORD VALUE_NAME_MAX = 16384;   // value names: up to 16383 characters

bool enum_failed(State* st, const char* call, LSTATUS rc) {
    st->err = 1762;
    platform_error(st, call, static_cast<DWORD>(rc));
    return false;
}

// Opens the subkey args[2] of args[1] in the view of args[3] for `access`;
// 1451 when it cannot be opened.
bool open_subkey(State* st, int nargs, Cell* args, REGSAM access, TempKey* out) {
    const KeyArg key = key_arg(st, &args[1]);
    const wchar_t* subkey = cell_wstr(st, &args[2]);
    REGSAM bits = 0;
    if (!select_view(st, nargs, args, 3, subkey, key.sys, &bits)) return false;
    LSTATUS rc = out->open(key, subkey, access | bits, 0, false);
    if (rc == ERROR_SUCCESS) return true;
    st->err = 1451;
    platform_error(st, "RegOpenKeyEx", static_cast<DWORD>(rc));
    return false;
}

}  // namespace

// RegQueryKeys(key): the names of the key's subkeys.
void fn_regquerykeys(State* st, int, Cell* result, Cell* args, bool) {
    const KeyArg key = key_arg(st, &args[1]);
    WText list;
    wchar_t name[KEY_NAME_MAX];
    for (DWORD i = 0;; ++i) {
        DWORD n = KEY_NAME_MAX;
        LSTATUS rc = RegEnumKeyExW(key.h, i, name, &n, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) {
            enum_failed(st, "RegEnumKeyEx", rc);
            return;
        }
        if ((i && !list.append(st, L'\t')) || !list.append(st, name, n)) return;
    }
    list.result(st, result);
}

// RegQueryKey(key, index): the name of subkey number `index` (from 0); an
// empty string past the last one.
void fn_regquerykey(State* st, int, Cell* result, Cell* args, bool) {
    const KeyArg key = key_arg(st, &args[1]);
    const int32_t index = args[2].i;
    wchar_t name[KEY_NAME_MAX];
    DWORD n = 0;
    if (index >= 0) {
        n = KEY_NAME_MAX;
        LSTATUS rc = RegEnumKeyExW(key.h, static_cast<DWORD>(index), name, &n, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) n = 0;
        else if (rc != ERROR_SUCCESS) {
            enum_failed(st, "RegEnumKeyEx", rc);
            return;
        }
    }
    cell_set_wstr(st, result, name, n);
}

// RegQueryItem(key, subkey [, view]): the names of the subkey's values. The
// unnamed default value has no name to list and is left out.
void fn_regqueryitem(State* st, int nargs, Cell* result, Cell* args, bool) {
    TempKey key;
    if (!open_subkey(st, nargs, args, KEY_QUERY_VALUE, &key)) return;
    Buffer buf;
    if (!buf.reserve(st, VALUE_NAME_MAX * sizeof(wchar_t))) return;
    wchar_t* name = static_cast<wchar_t*>(buf.data());
    WText list;
    for (DWORD i = 0;; ++i) {
        DWORD n = VALUE_NAME_MAX;
        LSTATUS rc = RegEnumValueW(key.get(), i, name, &n, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) {
            enum_failed(st, "RegEnumValue", rc);
            return;
        }
        if (!n) continue;
        if ((list.size() && !list.append(st, L'\t')) || !list.append(st, name, n)) return;
    }
    list.result(st, result);
}

// RegQueryKeyLastWriteTime(key, subkey [, view]): when the subkey was last
// written, in local time, as YYYY:MM:DD:hh:mm:ss.
void fn_regquerykeylastwritetime(State* st, int nargs, Cell* result, Cell* args, bool) {
    TempKey key;
    if (!open_subkey(st, nargs, args, KEY_QUERY_VALUE, &key)) return;
    FILETIME ft;
    LSTATUS rc = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, &ft);
    if (rc != ERROR_SUCCESS) {
        enum_failed(st, "RegQueryInfoKey", rc);
        return;
    }
    SYSTEMTIME utc, local;
    if (!FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        enum_failed(st, "FileTimeToSystemTime", static_cast<LSTATUS>(GetLastError()));
        return;
    }
    char text[32];
    int n = snprintf(text, sizeof text, "%04d:%02d:%02d:%02d:%02d:%02d", local.wYear, local.wMonth, local.wDay,
                     local.wHour, local.wMinute, local.wSecond);
    cell_set_str(st, result, text, static_cast<size_t>(n));
}

// RegExistKey(key, subkey [, view]): 1 when the subkey exists (also when the
// caller may not open it), else 0.
void fn_regexistkey(State* st, int nargs, Cell* result, Cell* args, bool) {
    const KeyArg key = key_arg(st, &args[1]);
    const wchar_t* subkey = cell_wstr(st, &args[2]);
    REGSAM bits = 0;
    if (!select_view(st, nargs, args, 3, subkey, key.sys, &bits)) return;
    HKEY h = nullptr;
    LSTATUS rc = RegOpenKeyExW(key.h, subkey, 0, KEY_QUERY_VALUE | bits, &h);
    if (rc == ERROR_SUCCESS) RegCloseKey(h);
    cell_set_int(st, result, rc == ERROR_SUCCESS || rc == ERROR_ACCESS_DENIED ? 1 : 0);
}

}  // namespace reg
