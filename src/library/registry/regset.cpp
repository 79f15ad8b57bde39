// The members that write one value: RegSetValue, RegSetExpSz, RegSetMulSz,
// RegSetDword, RegSetQword, RegSetBin and RegSetEx.
//
// The data is checked and built first, so a bad argument never leaves a new
// subkey behind; then the subkey is opened, or created, in the selected view
// and the value written.
#include "library/registry/reg_internal.h"
#include "errors.h"
#include "eval.h"
#include <cwchar>

namespace reg {

namespace {

bool set_target(State* st, int nargs, Cell* args, int viewIndex, DWORD type, const void* data, size_t bytes) {
    ValueTarget t;
    if (!open_target(st, nargs, args, viewIndex, KEY_SET_VALUE, true, 1452, &t)) return false;
    return write_value(st, t.key.get(), t.path.value(), type, data, bytes);
}

// Text data: REG_LINK data is stored without the terminating NUL.
bool set_text(State* st, int nargs, Cell* args, int viewIndex, DWORD type) {
    WideArg text(st, &args[3]);
    if (!text.ok()) return false;
    const size_t units = text.size() + (type == REG_LINK ? 0 : 1);
    return set_target(st, nargs, args, viewIndex, type, text.get(), units * sizeof(wchar_t));
}

// An item list as REG_MULTI_SZ data: each item followed by a NUL, one more NUL
// at the end. Empty items cannot be stored (an empty string ends the list)
// and are left out.
bool set_multi(State* st, int nargs, Cell* args, int viewIndex, wchar_t delimiter) {
    WideArg list(st, &args[3]);
    if (!list.ok()) return false;
    WText data;
    const wchar_t* s = list.get();
    while (*s) {
        const wchar_t* end = wcschr(s, delimiter);
        const size_t n = end ? static_cast<size_t>(end - s) : wcslen(s);
        if (n && (!data.append(st, s, n) || !data.append(st, L'\0'))) return false;
        s += n;
        if (*s) ++s;
    }
    if (!data.size() && !data.append(st, L'\0')) return false;
    if (!data.append(st, L'\0')) return false;
    return set_target(st, nargs, args, viewIndex, REG_MULTI_SZ, data.str(), data.size() * sizeof(wchar_t));
}

// A DWORD from a number that fits in 32 bits, signed or unsigned; 1457 beyond.
bool dword_of(State* st, int64_t v, DWORD type, DWORD* out) {
    if (v < INT32_MIN || v > UINT32_MAX) {
        st->err = 1457;
        return false;
    }
    uint32_t d = static_cast<uint32_t>(v);
    if (type == REG_DWORD_BIG_ENDIAN)
        d = (d >> 24) | ((d >> 8) & 0xFF00u) | ((d << 8) & 0xFF0000u) | (d << 24);
    *out = d;
    return true;
}

// A number written as text (RegSetEx data); 1459 when it is not an integer.
bool number_of_text(State* st, const Cell* c, int64_t* v) {
    Cell tmp;
    if (!cell_copy(st, &tmp, c, CM_BARE | CC_DUPSTRINGS)) return false;
    const bool ok = conv_to_int(st, &tmp, false, true);
    if (ok) *v = (tmp.type & TW_INT64) ? tmp.i64 : tmp.i;
    cell_release(st, &tmp, CM_BARE);
    if (!ok && !st->err) st->err = 1459;
    return ok;
}

bool set_hex(State* st, int nargs, Cell* args, int viewIndex, DWORD type) {
    WideArg text(st, &args[3]);
    if (!text.ok()) return false;
    Buffer bytes;
    size_t n = 0;
    const int parsed = parse_hex(st, text.get(), &bytes, &n);
    if (parsed <= 0) {
        if (!parsed) st->err = 1459;
        return false;
    }
    return set_target(st, nargs, args, viewIndex, type, bytes.data(), n);
}

}  // namespace

// RegSetValue(key, subkey[value], text [, view]): a REG_SZ value.
void fn_regsetvalue(State* st, int nargs, Cell* result, Cell* args, bool) {
    if (set_text(st, nargs, args, 4, REG_SZ)) cell_set_int(st, result, 1);
}

// RegSetExpSz(key, subkey[value], text [, view]): a REG_EXPAND_SZ value.
void fn_regsetexpsz(State* st, int nargs, Cell* result, Cell* args, bool) {
    if (set_text(st, nargs, args, 4, REG_EXPAND_SZ)) cell_set_int(st, result, 1);
}

// RegSetMulSz(key, subkey[value], list, delimiter [, view]).
void fn_regsetmulsz(State* st, int nargs, Cell* result, Cell* args, bool) {
    wchar_t delimiter;
    if (delimiter_arg(st, &args[4], &delimiter) && set_multi(st, nargs, args, 5, delimiter))
        cell_set_int(st, result, 1);
}

// RegSetDword(key, subkey[value], number [, view]).
void fn_regsetdword(State* st, int nargs, Cell* result, Cell* args, bool) {
    DWORD d;
    if (dword_of(st, int_arg(nargs, args, 3), REG_DWORD, &d) && set_target(st, nargs, args, 4, REG_DWORD, &d, 4))
        cell_set_int(st, result, 1);
}

// RegSetQword(key, subkey[value], number [, view]).
void fn_regsetqword(State* st, int nargs, Cell* result, Cell* args, bool) {
    const int64_t q = args[3].i64;
    if (set_target(st, nargs, args, 4, REG_QWORD, &q, 8)) cell_set_int(st, result, 1);
}

// RegSetBin(key, subkey[value], hex [, view]): a REG_BINARY value.
void fn_regsetbin(State* st, int nargs, Cell* result, Cell* args, bool) {
    if (set_hex(st, nargs, args, 4, REG_BINARY)) cell_set_int(st, result, 1);
}

// RegSetEx(key, subkey[value], data, delimiter, type [, view]): a value of
// any type 0 to 11; data is text for the string types, an item list for
// REG_MULTI_SZ, a number for the DWORD and QWORD types, hex for the others.
void fn_regsetex(State* st, int nargs, Cell* result, Cell* args, bool) {
    const int64_t type64 = int_arg(nargs, args, 5);
    if (type64 < 0 || type64 > REG_QWORD) {
        st->err = 1493;
        return;
    }
    const DWORD type = static_cast<DWORD>(type64);
    wchar_t delimiter;
    if (!delimiter_arg(st, &args[4], &delimiter)) return;
    bool done = false;
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_LINK:
        done = set_text(st, nargs, args, 6, type);
        break;
    case REG_MULTI_SZ:
        done = set_multi(st, nargs, args, 6, delimiter);
        break;
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
        int64_t v;
        DWORD d;
        done = number_of_text(st, &args[3], &v) && dword_of(st, v, type, &d) &&
               set_target(st, nargs, args, 6, type, &d, 4);
        break;
    }
    case REG_QWORD: {
        int64_t v;
        done = number_of_text(st, &args[3], &v) && set_target(st, nargs, args, 6, type, &v, 8);
        break;
    }
    default:
        done = set_hex(st, nargs, args, 6, type);
    }
    if (done) cell_set_int(st, result, 1);
}

}  // namespace reg
