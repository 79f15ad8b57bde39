// Registries beyond the local keys: RegConnect (another computer's
// registry), RegLoadHive and RegUnloadHive (hive files), and RegApp (the
// shell's App Paths registration of a program).
#include "library/registry/reg_internal.h"
#include "errors.h"
#include <cwchar>

namespace reg {

namespace {

// The remote-os argument: "" (not said), "REMOTEOS32" or "REMOTEOS64" in any
// case. False for anything else.
bool remote_os(const wchar_t* s, uint8_t* sys) {
    static const wchar_t k32[] = L"REMOTEOS32", k64[] = L"REMOTEOS64";
    const size_t n = wcslen(s);
    if (!n) *sys = SYS_LOCAL;
    else if (n == wcslen(k32) && same_word(s, k32, n)) *sys = SYS_REMOTE32;
    else if (n == wcslen(k64) && same_word(s, k64, n)) *sys = SYS_REMOTE64;
    else return false;
    return true;
}

uint16_t connect_error(LSTATUS rc) {
    switch (rc) {
    case ERROR_INVALID_HANDLE: return 1504;
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_COMPUTERNAME: return 1503;
    case ERROR_DLL_INIT_FAILED: return 1502;
    default: return 1505;
    }
}

// Enables the backup and restore privileges that loading and unloading hives
// need, for the life of the object; the previous state is put back after.
class PrivilegeHold {
public:
    PrivilegeHold() {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token_)) {
            token_ = nullptr;
            return;
        }
        Privileges want{};
        want.count = 2;
        const wchar_t* names[2] = {L"SeRestorePrivilege", L"SeBackupPrivilege"};
        for (int i = 0; i < 2; ++i) {
            LookupPrivilegeValueW(nullptr, names[i], &want.p[i].Luid);
            want.p[i].Attributes = SE_PRIVILEGE_ENABLED;
        }
        DWORD len = 0;
        adjusted_ = AdjustTokenPrivileges(token_, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&want), sizeof prev_,
                                          reinterpret_cast<TOKEN_PRIVILEGES*>(&prev_), &len) != 0;
    }
    ~PrivilegeHold() {
        if (adjusted_ && prev_.count)
            AdjustTokenPrivileges(token_, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&prev_), 0, nullptr, nullptr);
        if (token_) CloseHandle(token_);
    }
    PrivilegeHold(const PrivilegeHold&) = delete;
    PrivilegeHold& operator=(const PrivilegeHold&) = delete;

private:
    struct Privileges {   // TOKEN_PRIVILEGES with room for two entries
        DWORD               count;
        LUID_AND_ATTRIBUTES p[2];
    };
    HANDLE     token_ = nullptr;
    bool       adjusted_ = false;
    Privileges prev_{};
};

// The key and subkey of RegLoadHive and RegUnloadHive: the local machine or
// the users root (or a key of a connected registry), and a subkey that is
// not blank.
bool hive_place(State* st, Cell* args, KeyArg* key) {
    *key = key_arg(st, &args[1]);
    const bool fits = key->root ? key->h == HKEY_LOCAL_MACHINE || key->h == HKEY_USERS : key->h != nullptr;
    if (!fits) {
        st->err = 1531;
        return false;
    }
    if (!*cell_wstr(st, &args[2])) {
        st->err = 1533;
        return false;
    }
    return true;
}

bool hive_failed(State* st, const char* call, LSTATUS rc, uint16_t err) {
    st->err = rc == ERROR_PRIVILEGE_NOT_HELD ? 1532 : err;
    platform_error(st, call, static_cast<DWORD>(rc));
    return false;
}

}  // namespace

// RegConnect(computer, key [, remote-os]): a predefined root of another
// computer's registry ("" is this computer). The handle is the script's key.
void fn_regconnect(State* st, int nargs, Cell* result, Cell* args, bool) {
    uint8_t sys = SYS_LOCAL;
    if (nargs >= 3) {
        WideArg os(st, &args[3]);
        if (!os.ok()) return;
        if (!remote_os(os.get(), &sys)) {
            st->err = 1822;
            return;
        }
    }
    WideArg computer(st, &args[1]);
    if (!computer.ok()) return;
    // Only a predefined root names a registry to connect to.
    const KeyArg key = key_arg(st, &args[2]);
    HKEY h = nullptr;
    LSTATUS rc = key.root ? RegConnectRegistryW(computer.size() ? computer.get() : nullptr, key.h, &h)
                          : ERROR_INVALID_HANDLE;
    if (rc == ERROR_SUCCESS && !h) rc = ERROR_INVALID_HANDLE;
    if (rc != ERROR_SUCCESS) {
        st->err = connect_error(rc);
        platform_error(st, "RegConnectRegistry", static_cast<DWORD>(rc));
        return;
    }
    give_key(st, result, h, sys);
}

// RegLoadHive(key, subkey, file): loads a hive file as subkey of the local
// machine or users root.
void fn_regloadhive(State* st, int, Cell* result, Cell* args, bool) {
    KeyArg key;
    if (!hive_place(st, args, &key)) return;
    const wchar_t* file = cell_wstr(st, &args[3]);
    const DWORD attrs = GetFileAttributesW(file);
    if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        st->err = 1528;
        platform_error(st, "GetFileAttributes", attrs == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_FILE_NOT_FOUND);
        return;
    }
    PrivilegeHold privileges;
    LSTATUS rc = RegLoadKeyW(key.h, cell_wstr(st, &args[2]), file);
    if (rc != ERROR_SUCCESS) {
        hive_failed(st, "RegLoadKey", rc, 1523);
        return;
    }
    cell_set_int(st, result, 1);
}

// RegUnloadHive(key, subkey): unloads a hive that RegLoadHive loaded. Keys
// opened inside it must be closed first.
void fn_regunloadhive(State* st, int, Cell* result, Cell* args, bool) {
    KeyArg key;
    if (!hive_place(st, args, &key)) return;
    PrivilegeHold privileges;
    LSTATUS rc = RegUnLoadKeyW(key.h, cell_wstr(st, &args[2]));
    if (rc != ERROR_SUCCESS) {
        hive_failed(st, "RegUnLoadKey", rc, 1527);
        return;
    }
    cell_set_int(st, result, 1);
}

namespace {

constexpr wchar_t kAppPaths[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

// The program's file name (from the last "\", "/" or ":"), or nullptr when
// it is empty or holds characters a file name cannot have.
const wchar_t* program_name(const wchar_t* program) {
    const wchar_t* name = program;
    for (const wchar_t* p = program; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':') name = p + 1;
    if (!*name) return nullptr;
    for (const wchar_t* p = name; *p; ++p)
        if (*p < 32 || wcschr(L"<>\"|?*", *p)) return nullptr;
    return name;
}

LSTATUS set_text_value(HKEY key, const wchar_t* name, const wchar_t* text, size_t len) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((len + 1) * sizeof(wchar_t)));
}

}  // namespace

// RegApp(program, path [, view]): registers a program under App Paths, so the
// shell finds it by name. The key is the program's file name (".exe" added
// when it has no extension); its default value is the program's full path
// (as given, or the first folder of `path` joined with the name); the value
// "Path" holds `path`. Machine-wide when allowed, else for the current user.
void fn_regapp(State* st, int nargs, Cell* result, Cell* args, bool) {
    const wchar_t* program = cell_wstr(st, &args[1]);
    const wchar_t* path = cell_wstr(st, &args[2]);
    const wchar_t* name = program_name(program);
    if (!name) {
        st->err = 1430;
        return;
    }
    WText subkey, full;
    const bool addExe = !wcschr(name, L'.');
    if (!subkey.append(st, kAppPaths, wcslen(kAppPaths)) || !subkey.append(st, name, wcslen(name)) ||
        (addExe && !subkey.append(st, L".exe", 4)))
        return;
    if (name != program) {
        if (!full.append(st, program, wcslen(program))) return;
    } else if (*path) {
        const wchar_t* end = wcschr(path, L';');
        size_t n = end ? static_cast<size_t>(end - path) : wcslen(path);
        while (n && (path[n - 1] == L'\\' || path[n - 1] == L'/')) --n;
        if (!full.append(st, path, n) || !full.append(st, L'\\') ||
            !full.append(st, subkey.str() + wcslen(kAppPaths), subkey.size() - wcslen(kAppPaths)))
            return;
    }
    REGSAM bits = 0;
    if (!select_view(st, nargs, args, 3, subkey.str(), SYS_LOCAL, &bits)) return;
    HKEY h = nullptr;
    LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.str(), 0, nullptr, 0, KEY_SET_VALUE | bits, nullptr, &h,
                                 nullptr);
    if (rc == ERROR_ACCESS_DENIED)
        rc = RegCreateKeyExW(HKEY_CURRENT_USER, subkey.str(), 0, nullptr, 0, KEY_SET_VALUE | bits, nullptr, &h,
                             nullptr);
    const char* call = "RegCreateKeyEx";
    if (rc == ERROR_SUCCESS) {
        call = "RegSetValueEx";
        if (full.size()) rc = set_text_value(h, L"", full.str(), full.size());
        if (rc == ERROR_SUCCESS && *path) rc = set_text_value(h, L"Path", path, wcslen(path));
        RegCloseKey(h);
    }
    if (rc != ERROR_SUCCESS) {
        st->err = 1431;
        platform_error(st, call, static_cast<DWORD>(rc));
        return;
    }
    cell_set_int(st, result, 1);
}

}  // namespace reg
