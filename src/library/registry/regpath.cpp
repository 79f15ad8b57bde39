// The "subkey[value]" parser, the view selector and the opening of the key
// a value lives in: shared by every member that names a value.
#include "library/registry/reg_internal.h"
#include "errors.h"
#include <cwchar>

namespace reg {

namespace {

constexpr size_t MAX_SUBKEY = 2049;   // longest subkey part beside a value part

bool contains_wow_node(const wchar_t* s) {
    static const wchar_t kNode[] = L"WOW6432NODE";
    const size_t n = wcslen(kNode);
    for (; *s; ++s)
        if (same_word(s, kNode, n) && wcsnlen(s, n) == n) return true;
    return false;
}

}  // namespace

bool select_view(State* st, int nargs, const Cell* args, int index, const wchar_t* subkey, uint8_t sys,
                 REGSAM* bits) {
    REGSAM view = 0;
    switch (int_arg(nargs, args, index)) {
    case 0:
        if (default_view(st) == 1) view = KEY_WOW64_32KEY;
        else if (default_view(st) == 2) view = KEY_WOW64_64KEY;
        break;
    case 32: view = KEY_WOW64_32KEY; break;
    case 64: view = KEY_WOW64_64KEY; break;
    default: st->err = 1822; return false;
    }
    if (view && contains_wow_node(subkey)) {
        st->err = 1458;
        return false;
    }
    *bits = sys == SYS_REMOTE32 ? 0 : view;
    return true;
}

// The value name stands between the first "[" and a final "]"; a "\" right
// before the "[" is dropped; without "[" the whole text is the subkey.
bool ItemPath::parse(State* st, const wchar_t* text) {
    const size_t len = wcslen(text);
    if (!buf_.reserve(st, (len + 2) * sizeof(wchar_t))) return false;
    wchar_t* copy = static_cast<wchar_t*>(buf_.data());
    wmemcpy(copy, text, len + 1);
    subkey_ = copy;
    value_ = L"";
    hasValue_ = false;
    wchar_t* open = wcschr(copy, L'[');
    if (!open) return true;
    if (copy[len - 1] != L']') {
        st->err = 1402;
        return false;
    }
    copy[len - 1] = 0;
    *open = 0;
    value_ = open + 1;
    hasValue_ = true;
    size_t sublen = static_cast<size_t>(open - copy);
    if (sublen && copy[sublen - 1] == L'\\') copy[--sublen] = 0;
    if (sublen > MAX_SUBKEY) {
        st->err = 1460;
        return false;
    }
    return true;
}

TempKey::~TempKey() {
    if (owned_ && h_) RegCloseKey(h_);
}

LSTATUS TempKey::open(const KeyArg& key, const wchar_t* subkey, REGSAM access, DWORD options, bool create) {
    if (!*subkey && !create) {
        h_ = key.h;
        return key.h ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    }
    HKEY h = nullptr;
    LSTATUS rc = create ? RegCreateKeyExW(key.h, subkey, 0, nullptr, options, access, nullptr, &h, nullptr)
                        : RegOpenKeyExW(key.h, subkey, options, access, &h);
    if (rc == ERROR_SUCCESS) {
        h_ = h;
        owned_ = true;
    }
    return rc;
}

bool open_target(State* st, int nargs, Cell* args, int viewIndex, REGSAM access, bool create, uint16_t openErr,
                 ValueTarget* t) {
    const KeyArg key = key_arg(st, &args[1]);
    if (!t->path.parse(st, cell_wstr(st, &args[2]))) return false;
    if (!t->path.has_subkey()) {
        // The key itself: nothing is opened, so an unknown handle shows when
        // the value is read or written.
        t->key.open(key, L"", 0, 0, false);
        return true;
    }
    REGSAM bits = 0;
    if (!select_view(st, nargs, args, viewIndex, t->path.subkey(), key.sys, &bits)) return false;
    t->rc = t->key.open(key, t->path.subkey(), access | bits, 0, create);
    if (t->rc == ERROR_SUCCESS) return true;
    if (!openErr) return false;
    st->err = openErr;
    platform_error(st, create ? "RegCreateKeyEx" : "RegOpenKeyEx", static_cast<DWORD>(t->rc));
    return false;
}

}  // namespace reg
