// The dispatcher: every call of a built-in, host, user-defined or extender
// function passes through here. The evaluator has collected the arguments
// (args[1..nargs]) and checked their number; we convert each argument to the
// type its keyword record declares (4 bits per argument), route by token id
// and normalise the result.
#include "dispatch.h"
#include "errors.h"
#include "eval.h"
#include "exec.h"
#include "value.h"
#include <oleauto.h>
#include <cstdio>
#include <new>

ComArgConversion g_comArgConversion = nullptr;
ExtenderCall     g_extenderCall = nullptr;

int arg_code(uint64_t typeWord, int k) {   // k is 1-based
    return k > MAX_CALL_ARGS ? static_cast<int>(AT_ANY) : static_cast<int>((typeWord >> (4 * (k - 1))) & 15);
}

namespace {

bool holds_wide(const Cell& c) {
    if (c.type & TW_UNICODE) return true;
    if (c.type & TW_VARIANT) {
        VARTYPE vt = c.var.vt;
        return vt == VT_BSTR || vt == (VT_BSTR | VT_BYREF);
    }
    return false;
}

// Integer argument (codes 0, 9, 10, 11..14): integer first, then through
// floating point; 3057 with the argument number as detail.
bool arg_to_int(State* st, Cell* c, bool allow64, int argNo) {
    if (conv_to_int(st, c, false, allow64)) return true;
    if (!st->err && conv_to_float(st, c) && conv_to_int(st, c, true, allow64)) return true;
    if (!st->err) st->err = 3057;
    if (st->err == 3057) err_detailf(st, 9503, argNo);
    return false;
}

bool arg_to_int64(State* st, Cell* c, int argNo) {
    if (!arg_to_int(st, c, true, argNo)) return false;
    if (!(c->type & TW_INT64)) {
        c->i64 = c->i;
        c->type = TW_INT64;
    }
    return true;
}

void free_strings(State* st, Cell* c) {
    if ((c->type & TW_STRING) && c->str) VFree(st, c->str);
    if ((c->type & TW_UNICODE) && c->wstr) VFree(st, c->wstr);
    c->str = 0;
    c->wstr = 0;
    c->type &= ~(TW_STRING | TW_UNICODE);
}

// Numbers and strings to an automation variant, for when no automation client
// conversion is installed.
bool scalar_to_variant(State* st, Cell* c) {
    VARIANT v;
    VariantInit(&v);
    if (c->type & TW_UNICODE) {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(cell_wstr(st, c));
    } else if (c->type & TW_STRING) {
        const char* s = cell_str(st, c);
        UINT cp = st->codePage ? st->codePage : CP_ACP;
        int n = MultiByteToWideChar(cp, 0, s, -1, nullptr, 0);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(nullptr, n > 0 ? static_cast<UINT>(n - 1) : 0);
        if (v.bstrVal && n > 1) MultiByteToWideChar(cp, 0, s, -1, v.bstrVal, n);
    } else if (c->type & TW_INT64) {
        v.vt = VT_I8;
        v.llVal = c->i64;
    } else if (c->type & TW_FLOAT) {
        v.vt = VT_R8;
        v.dblVal = c->f;
    } else if ((c->type & TW_INT) && !(c->type & (TW_FILEBIT | TW_BINBIT))) {
        v.vt = VT_I4;
        v.lVal = c->i;
    } else {
        return false;
    }
    if (v.vt == VT_BSTR && !v.bstrVal) {
        st->err = 3096;
        return false;
    }
    free_strings(st, c);
    c->var = v;
    c->type = TW_VARIANT;
    return true;
}

bool arg_to_string(State* st, Cell* c, bool wide) {
    if (wide ? conv_to_wide(st, c) : conv_to_ansi(st, c)) return true;
    if (!st->err) st->err = wide ? 3820 : 3056;
    return false;
}

// Converts argument k by its code; false with the error set.
bool convert_arg(State* st, Cell* c, int code, int k, bool wideMode) {
    switch (code) {
    case AT_INT:
    case 11: case 12: case 13: case 14:
        return arg_to_int(st, c, false, k);
    case AT_INT64OK:
        return arg_to_int(st, c, true, k);
    case AT_INT64:
        return arg_to_int64(st, c, k);
    case AT_ANSI:
        return arg_to_string(st, c, false);
    case AT_WIDE:
    case AT_STRNT:                     // every system we run on is of the NT family
        return arg_to_string(st, c, true);
    case AT_STRW6:
    case AT_STRW8:
        return arg_to_string(st, c, wideMode);
    case AT_FLOAT:
        if (conv_to_float(st, c)) return true;
        if (!st->err) st->err = 3340;
        return false;
    case AT_ARRAY:
        if (c->type & TW_ARRAY) return true;
        if ((c->type & TW_VARIANT) && (c->var.vt & VT_ARRAY) && g_comArgConversion && g_comArgConversion(st, c, 3))
            return true;
        if (!st->err) st->err = 3650;
        return false;
    case AT_VARIANT:
        if (c->type & TW_VARIANT) return true;
        if (g_comArgConversion ? g_comArgConversion(st, c, 4) : scalar_to_variant(st, c)) return true;
        if (!st->err) st->err = 3732;
        return false;
    default:                           // 15: any type
        return true;
    }
}

}  // namespace

bool call_is_wide(const Cell* args, int nargs, uint64_t typeWord) {
    for (int k = 1; k <= nargs; ++k) {
        const int code = arg_code(typeWord, k);
        if ((code == AT_STRW6 || code == AT_STRW8) && holds_wide(args[k])) return true;
    }
    return false;
}

namespace {

void not_available(State* st, const char* what) {
    char text[160];
    snprintf(text, sizeof text, "%s is not available in this version", what);
    st->err = 3046;
    err_detail(st, text);
}

// Ids outside the built-in table: host, user-defined and extender functions.
void call_outside(State* st, uint32_t id, Cell* result, Cell* args, int nargs, uint64_t typeWord) {
    if (id >= PARENTSTART && id <= 1998) {
        try {
            host_call(st, id, result, args, nargs, typeWord);
        } catch (const std::bad_alloc&) {
            st->err = 1588;   // the 8-bit copies of wide arguments
        }
    } else if (id >= UDFSTART && id <= 4998) {
        udf_call(st, id, result, args, nargs, nullptr, nullptr, 0);
        if (!st->err && !result->type) cell_init(result, 0);
    } else if (id >= ADDONSTART && id <= ADDONSTART + MAX_EXTFUNCS - 1) {
        if (g_extenderCall)
            g_extenderCall(st, id, result, args, nargs, typeWord);
        else
            not_available(st, st->callName && *st->callName ? st->callName : "Extender function");
    } else {
        st->err = 3046;
    }
}

}  // namespace

// A family handler: the function registered for the id, or 3046 naming it.
// The fourth family also takes the ids above the built-in table. A function
// whose work buffer (a C++ container) cannot be had fails with 1588; the
// evaluator releases its arguments and result as after any failure.
static void family_call(State* st, uint32_t id, int nargs, Cell* result, Cell* args, bool wide, uint64_t typeWord) {
    if (id >= PARENTSTART) {
        call_outside(st, id, result, args, nargs, typeWord);
        return;
    }
    try {
        if (BuiltinFn fn = builtin_lookup(id)) {
            fn(st, nargs, result, args, wide);
            return;
        }
    } catch (const std::bad_alloc&) {
        st->err = 1588;
        return;
    }
    const char* name = st->callName && *st->callName ? st->callName : (id < NKEYTOKENS ? g_keywords[id].name : "");
    if (*name)
        not_available(st, name);
    else
        st->err = 3046;
}

void family1(State* st, uint32_t id, int n, Cell* r, Cell* a, bool w, uint64_t t) { family_call(st, id, n, r, a, w, t); }
void family2(State* st, uint32_t id, int n, Cell* r, Cell* a, bool w, uint64_t t) { family_call(st, id, n, r, a, w, t); }
void family3(State* st, uint32_t id, int n, Cell* r, Cell* a, bool w, uint64_t t) { family_call(st, id, n, r, a, w, t); }
void family4(State* st, uint32_t id, int n, Cell* r, Cell* a, bool w, uint64_t t) { family_call(st, id, n, r, a, w, t); }

int dispatch(State* st, const char* name, uint32_t id, Cell* result, Cell* args, bool noConvert, int nargs,
             uint64_t typeWord) {
    cell_init(result, 0);
    bool wide = false;
    if (!noConvert && !(id >= UDFSTART && id <= 4998)) {
        wide = call_is_wide(args, nargs, typeWord);
        for (int k = 1; k <= nargs; ++k)
            if (!convert_arg(st, &args[k], arg_code(typeWord, k), k, wide)) return st->err;
    }

    const char* savedName = st->callName;
    st->callName = name;
    if (id == KW_Q_OLEOBJECT || id < 362)
        family1(st, id, nargs, result, args, wide, typeWord);
    else if (id < 518)
        family2(st, id, nargs, result, args, wide, typeWord);
    else if (id < 686)
        family3(st, id, nargs, result, args, wide, typeWord);
    else
        family4(st, id, nargs, result, args, wide, typeWord);
    st->callName = savedName;

    // A numeric result never carries a stale string.
    if (result->type & (TW_INT | TW_FLOAT | TW_INT64)) free_strings(st, result);
    if (int fault = fp_take_fault()) st->err = static_cast<uint16_t>(fault);
    return st->err;
}
