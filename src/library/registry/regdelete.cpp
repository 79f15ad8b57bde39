// Deleting keys, links and values: RegDeleteKey, RegDeleteLink, RegDelValue.
//
// RegDeleteKey removes the subkey with everything below it. Keys are opened
// as links where they are links (REG_OPTION_OPEN_LINK), so a symbolic link
// inside the tree is removed itself and the key it points to is left alone.
// The walk keeps its open keys on an explicit stack, never on the C++ stack.
#include "library/registry/reg_internal.h"
#include "errors.h"

namespace reg {

namespace {

typedef LONG(NTAPI* NtDeleteKeyFn)(HANDLE);
typedef ULONG(NTAPI* RtlNtStatusToDosErrorFn)(LONG);

// Deletes the key a handle refers to (a link itself when opened as a link).
LSTATUS delete_by_handle(HKEY h) {
    static const auto del = reinterpret_cast<NtDeleteKeyFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    static const auto dos = reinterpret_cast<RtlNtStatusToDosErrorFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlNtStatusToDosError")));
    if (!del || !dos) return ERROR_CALL_NOT_IMPLEMENTED;
    LONG status = del(h);
    return status == 0 ? ERROR_SUCCESS : static_cast<LSTATUS>(dos(status));
}

constexpr REGSAM TREE_ACCESS = DELETE | KEY_ENUMERATE_SUB_KEYS;
constexpr DWORD  MAX_DEPTH = 1024;   // the system allows 512 levels

bool delete_failed(State* st, const char* call, LSTATUS rc) {
    st->err = 1229;
    platform_error(st, call, static_cast<DWORD>(rc));
    return false;
}

// Deletes `top` and every key below it, deepest first. `top` is closed.
bool delete_tree(State* st, HKEY top, REGSAM bits) {
    Buffer buf;
    if (!buf.reserve(st, MAX_DEPTH * sizeof(HKEY))) {
        RegCloseKey(top);
        return false;
    }
    HKEY* stack = static_cast<HKEY*>(buf.data());
    DWORD depth = 0;
    stack[depth++] = top;
    const char* call = nullptr;
    LSTATUS rc = ERROR_SUCCESS;
    while (depth) {
        HKEY cur = stack[depth - 1];
        wchar_t name[256];
        DWORD n = 256;
        rc = RegEnumKeyExW(cur, 0, name, &n, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_SUCCESS) {
            HKEY child = nullptr;
            rc = depth == MAX_DEPTH ? ERROR_CANTOPEN
                                    : RegOpenKeyExW(cur, name, REG_OPTION_OPEN_LINK, TREE_ACCESS | bits, &child);
            if (rc != ERROR_SUCCESS) {
                call = "RegOpenKeyEx";
                break;
            }
            stack[depth++] = child;
            continue;
        }
        if (rc != ERROR_NO_MORE_ITEMS) {
            call = "RegEnumKeyEx";
            break;
        }
        rc = delete_by_handle(cur);
        if (rc != ERROR_SUCCESS) {
            call = "NtDeleteKey";
            break;
        }
        RegCloseKey(cur);
        --depth;
    }
    while (depth) RegCloseKey(stack[--depth]);
    return call ? delete_failed(st, call, rc) : true;
}

// The subkey args[2] of args[1], opened as a link where it is one, for
// deleting; 1566 for a blank subkey, 1229 when it cannot be opened.
bool open_for_delete(State* st, int nargs, Cell* args, HKEY* out, REGSAM* bits) {
    const KeyArg key = key_arg(st, &args[1]);
    const wchar_t* subkey = cell_wstr(st, &args[2]);
    if (!*subkey) {
        st->err = 1566;
        return false;
    }
    if (!select_view(st, nargs, args, 3, subkey, key.sys, bits)) return false;
    LSTATUS rc = RegOpenKeyExW(key.h, subkey, REG_OPTION_OPEN_LINK, TREE_ACCESS | *bits, out);
    return rc == ERROR_SUCCESS || delete_failed(st, "RegOpenKeyEx", rc);
}

}  // namespace

// RegDeleteKey(key, subkey [, view]): deletes the subkey and all it holds.
void fn_regdeletekey(State* st, int nargs, Cell* result, Cell* args, bool) {
    HKEY h;
    REGSAM bits = 0;
    if (open_for_delete(st, nargs, args, &h, &bits) && delete_tree(st, h, bits)) cell_set_int(st, result, 1);
}

// RegDeleteLink(key, subkey [, view]): deletes a symbolic link key itself,
// not the key it points to. A key with subkeys cannot be deleted this way.
void fn_regdeletelink(State* st, int nargs, Cell* result, Cell* args, bool) {
    HKEY h;
    REGSAM bits = 0;
    if (!open_for_delete(st, nargs, args, &h, &bits)) return;
    LSTATUS rc = delete_by_handle(h);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS) {
        delete_failed(st, "NtDeleteKey", rc);
        return;
    }
    cell_set_int(st, result, 1);
}

// RegDelValue(key, subkey[value] [, view]): 1 when the value was deleted, 0
// when there was no such value (or no such subkey).
void fn_regdelvalue(State* st, int nargs, Cell* result, Cell* args, bool) {
    ValueTarget t;
    if (!open_target(st, nargs, args, 3, KEY_SET_VALUE, false, 0, &t)) {
        if (st->err) return;
        if (t.rc == ERROR_FILE_NOT_FOUND) {
            cell_set_int(st, result, 0);
            return;
        }
        st->err = 1451;
        platform_error(st, "RegOpenKeyEx", static_cast<DWORD>(t.rc));
        return;
    }
    LSTATUS rc = RegDeleteValueW(t.key.get(), t.path.value());
    if (rc == ERROR_FILE_NOT_FOUND) {
        cell_set_int(st, result, 0);
        return;
    }
    if (rc != ERROR_SUCCESS) {
        delete_failed(st, "RegDeleteValue", rc);
        return;
    }
    cell_set_int(st, result, 1);
}

}  // namespace reg
