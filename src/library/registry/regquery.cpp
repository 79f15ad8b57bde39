// The members that read one value: RegQueryValue and the typed RegQuery*
// members, RegQueryEx, RegEntryType and RegExistValue.
//
// Every one splits its "subkey[value]" argument, opens the subkey for reading
// in the selected view (or reads from the key itself), reads the value and
// checks its type. Text comes back as wide strings (the registry keeps UTF-16,
// so nothing is lost); binary data as hex text.
#include "library/registry/reg_internal.h"
#include "errors.h"
#include <cstdio>
#include <cwchar>

namespace reg {

namespace {

// Reads the value that args[1] and args[2] name; the view is args[viewIndex].
bool read_target(State* st, int nargs, Cell* args, int viewIndex, ValueData* v) {
    ValueTarget t;
    if (!open_target(st, nargs, args, viewIndex, KEY_QUERY_VALUE, false, 1451, &t)) return false;
    return v->read(st, t.key.get(), t.path.value());
}

bool text_result(State* st, Cell* out, const ValueData& v) {
    size_t n;
    const wchar_t* s = v.text(&n);
    return cell_set_wstr(st, out, s, n);
}

// Types whose data is neither text nor a number.
bool is_binary_type(DWORD t) {
    switch (t) {
    case REG_SZ: case REG_EXPAND_SZ: case REG_LINK: case REG_MULTI_SZ:
    case REG_DWORD: case REG_DWORD_BIG_ENDIAN: case REG_QWORD:
        return false;
    default:
        return true;
    }
}

bool is_dword_type(DWORD t) { return t == REG_DWORD || t == REG_DWORD_BIG_ENDIAN; }
bool is_qword_type(DWORD t) { return t == REG_QWORD; }
bool is_string_type(DWORD t) { return t == REG_SZ || t == REG_EXPAND_SZ; }
bool is_expand_type(DWORD t) { return t == REG_EXPAND_SZ; }
bool is_multi_type(DWORD t) { return t == REG_MULTI_SZ; }

// Reads the value and checks its type: `wrongType` when `accepts` refuses it.
bool read_typed(State* st, int nargs, Cell* args, int viewIndex, bool (*accepts)(DWORD), uint16_t wrongType,
                ValueData* v) {
    if (!read_target(st, nargs, args, viewIndex, v)) return false;
    if (accepts(v->type())) return true;
    st->err = wrongType;
    return false;
}

}  // namespace

// RegQueryValue(key, subkey[value] [, view]): strings and DWORD values as
// text; the other types name the member that reads them.
void fn_regqueryvalue(State* st, int nargs, Cell* result, Cell* args, bool) {
    ValueData v;
    if (!read_target(st, nargs, args, 3, &v)) return;
    switch (v.type()) {
    case REG_SZ:
    case REG_LINK:
        text_result(st, result, v);
        return;
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
        wchar_t text[16];
        int n = swprintf(text, 16, L"%d", v.dword());
        cell_set_wstr(st, result, text, static_cast<size_t>(n));
        return;
    }
    case REG_BINARY:
    case REG_NONE: st->err = 1453; return;
    case REG_EXPAND_SZ: st->err = 1488; return;
    case REG_MULTI_SZ: st->err = 1489; return;
    case REG_QWORD: st->err = 1742; return;
    default: st->err = 1490; return;
    }
}

// RegQueryStr: REG_SZ as it is, REG_EXPAND_SZ with its variables expanded.
void fn_regquerystr(State* st, int nargs, Cell* result, Cell* args, bool) {
    ValueData v;
    if (!read_typed(st, nargs, args, 3, is_string_type, 1645, &v)) return;
    if (v.type() == REG_SZ) {
        text_result(st, result, v);
        return;
    }
    size_t n;
    const wchar_t* s = v.text(&n);
    expanded_result(st, result, s, n);
}

// RegQueryExpSz: REG_EXPAND_SZ as stored, variables not expanded.
void fn_regqueryexpsz(State* st, int nargs, Cell* result, Cell* args, bool) {
    ValueData v;
    if (read_typed(st, nargs, args, 3, is_expand_type, 1483, &v)) text_result(st, result, v);
}

// RegQueryMulSz(key, subkey[value], delimiter [, view]): the strings as an
// item list.
void fn_regquerymulsz(State* st, int nargs, Cell* result, Cell* args, bool) {
    wchar_t delimiter;
    if (!delimiter_arg(st, &args[3], &delimiter)) return;
    ValueData v;
    if (read_typed(st, nargs, args, 4, is_multi_type, 1484, &v)) multi_result(st, result, v, delimiter);
}

void fn_regquerydword(State* st, int nargs, Cell* result, Cell* args, bool) {
    ValueData v;
    if (read_typed(st, nargs, args, 3, is_dword_type, 1456, &v)) cell_set_int(st, result, v.dword());
}

void fn_regqueryqword(State* st, int nargs, Cell* result, Cell* args, bool) {
    ValueData v;
    if (read_typed(st, nargs, args, 3, is_qword_type, 1741, &v)) cell_set_int64(st, result, v.qword());
}

// RegQueryBin: the bytes of a binary value (REG_BINARY, REG_NONE, resource
// lists and unknown types) as hex pairs separated by blanks.
void fn_regquerybin(State* st, int nargs, Cell* result, Cell* args, bool) {
    ValueData v;
    if (read_typed(st, nargs, args, 3, is_binary_type, 1454, &v)) hex_result(st, result, v.bytes(), v.size());
}

// RegQueryEx(key, subkey[value], delimiter, type [, view]): any value in its
// natural form. type 0 takes any type; a type code 1 to 11 requires the value
// to have that type (1492 otherwise, like a type outside 0 to 11).
void fn_regqueryex(State* st, int nargs, Cell* result, Cell* args, bool) {
    const int64_t want = int_arg(nargs, args, 4);
    if (want < 0 || want > REG_QWORD) {
        st->err = 1492;
        return;
    }
    wchar_t delimiter;
    if (!delimiter_arg(st, &args[3], &delimiter)) return;
    ValueData v;
    if (!read_target(st, nargs, args, 5, &v)) return;
    if (want && v.type() != want) {
        char text[64];
        snprintf(text, sizeof text, "The value's type is %lu", static_cast<unsigned long>(v.type()));
        st->err = 1492;
        err_detail(st, text);
        return;
    }
    switch (v.type()) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_LINK: text_result(st, result, v); return;
    case REG_MULTI_SZ: multi_result(st, result, v, delimiter); return;
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: cell_set_int(st, result, v.dword()); return;
    case REG_QWORD: cell_set_int64(st, result, v.qword()); return;
    default: hex_result(st, result, v.bytes(), v.size()); return;
    }
}

// RegEntryType(key, subkey[value] [, view]): the value's type code; 1494 when
// there is no such value.
void fn_regentrytype(State* st, int nargs, Cell* result, Cell* args, bool) {
    ValueTarget t;
    if (!open_target(st, nargs, args, 3, KEY_QUERY_VALUE, false, 1451, &t)) return;
    DWORD type = 0;
    LSTATUS rc = RegQueryValueExW(t.key.get(), t.path.value(), nullptr, &type, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
        st->err = 1494;
        platform_error(st, "RegQueryValueEx", static_cast<DWORD>(rc));
        return;
    }
    cell_set_int(st, result, static_cast<int32_t>(type));
}

// RegExistValue(key, subkey[value] [, view]): 1 when the value exists, else 0.
void fn_regexistvalue(State* st, int nargs, Cell* result, Cell* args, bool) {
    ValueTarget t;
    bool found = false;
    if (open_target(st, nargs, args, 3, KEY_QUERY_VALUE, false, 0, &t))
        found = RegQueryValueExW(t.key.get(), t.path.value(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    if (!st->err) cell_set_int(st, result, found ? 1 : 0);
}

}  // namespace reg
