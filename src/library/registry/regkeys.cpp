// Key handles: the state's table of keys the script holds open, the
// predefined roots, and the members that open, create and close keys.
//
// Only the roots and keys of the table are ever handed to the system: a key
// that was closed (or a number the script made up) is refused as an invalid
// handle instead of reaching whatever object the number now belongs to, and a
// key can be closed only once. Tear-down closes whatever is left.
#include "library/registry/registry.h"
#include "library/registry/reg_internal.h"
#include "library/core/intcontrol.h"
#include "errors.h"
#include <cwchar>

// The keys a script holds: a block from the process heap that grows by
// doubling. Searched from the newest entry, which is the one most often used.
struct RegKeyTable {
    struct Entry {
        HKEY    h;
        uint8_t sys;
    };
    uint32_t count;
    uint32_t capacity;
    Entry    e[1];
};

namespace reg {

namespace {

constexpr uint32_t ROOT_FIRST = 0x80000000u;   // the classes root
constexpr uint32_t ROOT_LAST = 0x80000006u;    // the last predefined root

int64_t key_number(HKEY h) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(h)); }

RegKeyTable::Entry* find_key(State* st, int64_t v) {
    RegKeyTable* t = st->regKeys;
    if (!t) return nullptr;
    for (uint32_t i = t->count; i-- > 0;)
        if (key_number(t->e[i].h) == v) return &t->e[i];
    return nullptr;
}

// The predefined root a number stands for, written as the negative 32-bit
// value (@REGCURRENT) or as the same bits read unsigned.
HKEY root_of(int64_t v) {
    uint32_t bits;
    if (v >= INT32_MIN && v < 0) bits = static_cast<uint32_t>(static_cast<int32_t>(v));
    else if (v >= 0 && v <= UINT32_MAX) bits = static_cast<uint32_t>(v);
    else return nullptr;
    if (bits < ROOT_FIRST || bits > ROOT_LAST) return nullptr;
    return reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(bits)));
}

// Access words of RegOpenKeyEx and RegCreateKeyEx: one of READ, WRITE and
// FULL, optionally with LINK (the link itself rather than its target; with
// create, make the key a link) and, for create, VOLATILE (not kept across a
// restart). Words are separated by blanks and compared without case.
struct Mode {
    REGSAM access = 0;
    DWORD  options = 0;
};

bool parse_mode(const wchar_t* s, bool create, Mode* m) {
    struct Word {
        const wchar_t* name;
        REGSAM         access;
        DWORD          open, made;   // options when opening / creating (~0: not allowed)
    };
    static const Word kWords[] = {
        {L"READ", KEY_READ, 0, 0},
        {L"WRITE", KEY_WRITE, 0, 0},
        {L"FULL", KEY_ALL_ACCESS, 0, 0},
        {L"LINK", 0, REG_OPTION_OPEN_LINK, REG_OPTION_CREATE_LINK},
        {L"VOLATILE", 0, ~0u, REG_OPTION_VOLATILE},
    };
    int accessWords = 0;
    while (*s) {
        while (*s == L' ' || *s == L'\t') ++s;
        size_t n = 0;
        while (s[n] && s[n] != L' ' && s[n] != L'\t') ++n;
        if (!n) break;
        const Word* w = nullptr;
        for (const Word& k : kWords)
            if (wcslen(k.name) == n && same_word(s, k.name, n)) w = &k;
        if (!w) return false;
        DWORD opt = create ? w->made : w->open;
        if (opt == ~0u) return false;
        if (w->access) ++accessWords;
        m->access |= w->access;
        m->options |= opt;
        s += n;
    }
    if (accessWords != 1) return false;
    if (create && (m->options & REG_OPTION_CREATE_LINK)) m->access |= KEY_CREATE_LINK;
    return true;
}

// Opens or creates args[2] under args[1] with `access`/`options` in the view
// of args[viewIndex]; the key goes to the script. `fail` on a system failure.
void open_or_create(State* st, int nargs, Cell* result, Cell* args, int viewIndex, REGSAM access, DWORD options,
                    bool create, uint16_t fail) {
    const KeyArg key = key_arg(st, &args[1]);
    const wchar_t* subkey = cell_wstr(st, &args[2]);
    REGSAM bits = 0;
    if (!select_view(st, nargs, args, viewIndex, subkey, key.sys, &bits)) return;
    HKEY h = nullptr;
    LSTATUS rc = create ? RegCreateKeyExW(key.h, subkey, 0, nullptr, options, access | bits, nullptr, &h, nullptr)
                        : RegOpenKeyExW(key.h, subkey, options, access | bits, &h);
    if (rc != ERROR_SUCCESS) {
        st->err = fail;
        platform_error(st, create ? "RegCreateKeyEx" : "RegOpenKeyEx", static_cast<DWORD>(rc));
        return;
    }
    give_key(st, result, h, key.sys);
}

}  // namespace

// RegOpenKey(key, subkey [, view]) and RegCreateKey(key, subkey [, view]):
// the key with every access the caller's rights allow.
void fn_regopenkey(State* st, int nargs, Cell* result, Cell* args, bool) {
    open_or_create(st, nargs, result, args, 3, MAXIMUM_ALLOWED, 0, false, 1158);
}

void fn_regcreatekey(State* st, int nargs, Cell* result, Cell* args, bool) {
    open_or_create(st, nargs, result, args, 3, MAXIMUM_ALLOWED, 0, true, 1159);
}

// RegOpenKeyEx(key, subkey, mode [, view [, reserved]]) and
// RegCreateKeyEx(key, subkey, mode, view [, reserved]).
void fn_regopenkeyex(State* st, int nargs, Cell* result, Cell* args, bool) {
    WideArg mode(st, &args[3]);
    if (!mode.ok()) return;
    Mode m;
    if (!parse_mode(mode.get(), false, &m)) {
        st->err = 1621;
        return;
    }
    open_or_create(st, nargs, result, args, 4, m.access, m.options, false, 1158);
}

void fn_regcreatekeyex(State* st, int nargs, Cell* result, Cell* args, bool) {
    WideArg mode(st, &args[3]);
    if (!mode.ok()) return;
    Mode m;
    if (!parse_mode(mode.get(), true, &m)) {
        st->err = 1159;
        err_detail(st, "Invalid mode");
        return;
    }
    open_or_create(st, nargs, result, args, 4, m.access, m.options, true, 1159);
}

// RegCloseKey(key): closes a key the script holds. A predefined root is
// never closed (closing it does nothing); any other number is 1231.
void fn_regclosekey(State* st, int nargs, Cell* result, Cell* args, bool) {
    const int64_t v = int_arg(nargs, args, 1);
    RegKeyTable* t = st->regKeys;
    if (RegKeyTable::Entry* e = find_key(st, v)) {
        RegCloseKey(e->h);
        *e = t->e[--t->count];
    } else if (!root_of(v)) {
        st->err = 1231;
        platform_error(st, "RegCloseKey", ERROR_INVALID_HANDLE);
        return;
    }
    cell_set_int(st, result, 1);
}

// The view setting as RegOpenFlags writes it: 0, 32 or 64.
constexpr int kFlagOfSetting[] = {0, 32, 64};

// RegOpenFlags(flags): the default view for every member given view 0:
// 0 none, 32 the 32-bit view, 64 the 64-bit view; -1 only reads. Returns the
// previous flags. Anything else is 1822.
void fn_regopenflags(State* st, int, Cell* result, Cell* args, bool) {
    const int previous = kFlagOfSetting[default_view(st)];
    switch (args[1].i) {
    case -1: break;
    case 0: set_default_view(st, 0); break;
    case 32: set_default_view(st, 1); break;
    case 64: set_default_view(st, 2); break;
    default: st->err = 1822; return;
    }
    cell_set_int(st, result, previous);
}

KeyArg key_arg(State* st, const Cell* c) {
    const int64_t v = (c->type & TW_INT64) ? c->i64 : c->i;
    HKEY root = root_of(v);
    // A connection to this computer may answer with the root itself; the
    // table then still knows what RegConnect was told about the system.
    if (const RegKeyTable::Entry* e = find_key(st, v)) return {e->h, e->sys, root != nullptr};
    return {root, SYS_LOCAL, root != nullptr};
}

bool keys_add(State* st, HKEY h, uint8_t sys) {
    RegKeyTable* t = st->regKeys;
    if (!t || t->count == t->capacity) {
        const uint32_t cap = t ? t->capacity * 2 : 16;
        const size_t bytes = offsetof(RegKeyTable, e) + static_cast<size_t>(cap) * sizeof(RegKeyTable::Entry);
        void* p = t ? HeapReAlloc(GetProcessHeap(), 0, t, bytes) : HeapAlloc(GetProcessHeap(), 0, bytes);
        if (!p || cap < 16) {
            RegCloseKey(h);
            st->err = 1455;
            return false;
        }
        t = static_cast<RegKeyTable*>(p);
        if (!st->regKeys) t->count = 0;
        t->capacity = cap;
        st->regKeys = t;
    }
    t->e[t->count++] = {h, sys};
    return true;
}

bool give_key(State* st, Cell* result, HKEY h, uint8_t sys) {
    if (!keys_add(st, h, sys)) return false;
    const int64_t v = key_number(h);
    return v >= INT32_MIN && v <= INT32_MAX ? cell_set_int(st, result, static_cast<int32_t>(v))
                                            : cell_set_int64(st, result, v);
}

bool same_word(const wchar_t* a, const wchar_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'a' && x <= L'z') x -= 32;
        if (y >= L'a' && y <= L'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}

int default_view(const State* st) { return st->regViewSet ? st->regView : 2; }

void set_default_view(State* st, int setting) {
    st->regView = static_cast<uint8_t>(setting);
    st->regViewSet = 1;
}

}  // namespace reg

void reg_teardown(State* st) {
    RegKeyTable* t = st->regKeys;
    if (!t) return;
    for (uint32_t i = 0; i < t->count; ++i) RegCloseKey(t->e[i].h);
    HeapFree(GetProcessHeap(), 0, t);
    st->regKeys = nullptr;
}

void ic_reg_view(State* st, Cell* result, Cell* p) {
    const int previous = reg::default_view(st);
    const int setting = ic_int(st, &p[0]);
    if (setting >= 0 && setting <= 2) reg::set_default_view(st, setting);
    ic_previous(st, result, previous);
}
