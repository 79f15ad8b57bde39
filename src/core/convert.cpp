// In-place conversions of value cells: to integer, float, number, ANSI text
// and wide text, including the automation values of VARIANT cells.
//
// Every conversion first builds the new value in a fresh cell while the old
// one is only read, then swaps it in. So a failed conversion leaves the cell
// untouched, and a cell read from a variable (which shares the variable's
// variant) is released the way such cells must be.
#include "eval.h"
#include "value.h"
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr uint32_t OWNED_BITS = TW_STRING | TW_UNICODE | TW_ARRAY | TW_VARIANT | TW_COMOBJ;

enum Kind { K_NONE, K_INT, K_INT64, K_FLOAT, K_TEXT, K_WTEXT, K_VARIANT };

Kind kind_of(const Cell* c) {
    const uint32_t t = c->type;
    if (t & TW_ARRAY) return K_NONE;
    if (t & TW_INT) return K_INT;
    if (t & TW_INT64) return K_INT64;
    if (t & TW_FLOAT) return K_FLOAT;
    if (t & TW_STRING) return K_TEXT;
    if (t & TW_UNICODE) return K_WTEXT;
    if ((t & TW_COMOBJ) == TW_VARIANT) return K_VARIANT;
    return K_NONE;
}

// Moves the value of `fresh` into `c`, releasing what `c` held; the binding
// fields of `c` (slot, level, reference) stay.
void replace(State* st, Cell* c, const Cell& fresh) {
    const uint16_t slot = c->slot;
    const int16_t level = c->level;
    const uint64_t ref = c->ref;
    cell_release(st, c, CM_VARBOUND);
    *c = fresh;
    c->slot = slot;
    c->level = level;
    c->ref = ref;
}

void set_int(State* st, Cell* c, int32_t v) {
    Cell r;
    cell_init(&r, v);
    replace(st, c, r);
}

void set_int64(State* st, Cell* c, int64_t v) {
    Cell r;
    cell_init(&r, 0);
    r.type = TW_INT64;
    r.i64 = v;
    replace(st, c, r);
}

void set_float(State* st, Cell* c, double v) {
    Cell r;
    cell_init(&r, 0);
    r.type = TW_FLOAT;
    r.f = v;
    replace(st, c, r);
}

void set_integer(State* st, Cell* c, int64_t v, bool is64) {
    if (is64) set_int64(st, c, v);
    else set_int(st, c, static_cast<int32_t>(v));
}

// Takes ownership of a heap handle as the cell's ANSI (or wide) text.
void set_text_handle(State* st, Cell* c, uint64_t h, bool wide) {
    Cell r;
    cell_init(&r, 0);
    r.type = wide ? TW_UNICODE : TW_STRING;
    r.i = 0;
    (wide ? r.wstr : r.str) = h;
    replace(st, c, r);
}

// The ANSI text of a STRING or UNICODE cell; wide text is converted into
// `tmp`. Null with 1588 when there is no memory for the copy.
const char* ansi_view(State* st, const Cell* c, std::string& tmp) {
    if (c->type & TW_STRING) return cell_str(st, c);
    const wchar_t* w = cell_wstr(st, c);
    int n = WideCharToMultiByte(st->codePage, 0, w, -1, nullptr, 0, nullptr, nullptr);
    try {
        tmp.assign(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    } catch (const std::bad_alloc&) {
        st->err = 1588;
        return nullptr;
    }
    if (n > 0) WideCharToMultiByte(st->codePage, 0, w, -1, tmp.data(), n, nullptr, nullptr);
    return tmp.c_str();
}

uint64_t heap_ansi_from_wide(State* st, const wchar_t* w) {
    int n = WideCharToMultiByte(st->codePage, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return heap_strdup(st, "", 0);
    uint64_t h = VMalloc(st, static_cast<uint64_t>(n));
    if (h) WideCharToMultiByte(st->codePage, 0, w, -1, heap_ptr(st, h), n, nullptr, nullptr);
    return h;
}

uint64_t heap_wide_from_ansi(State* st, const char* s) {
    int n = MultiByteToWideChar(st->codePage, 0, s, -1, nullptr, 0);
    if (n <= 0) return heap_wstrdup(st, L"", 0);
    uint64_t h = VMalloc(st, static_cast<uint64_t>(n) * sizeof(wchar_t));
    if (h) MultiByteToWideChar(st->codePage, 0, s, -1, heap_wptr(st, h), n);
    return h;
}

// The plain value (INT, INT64, FLOAT or UNICODE) of an automation variant, in a
// fresh cell. False for objects, arrays, empty and unknown types.
bool variant_value(State* st, const VARIANT* src, Cell* out) {
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantCopyInd(&v, const_cast<VARIANT*>(src)))) return false;
    cell_init(out, 0);
    bool ok = true;
    VARIANT to;
    VariantInit(&to);
    switch (v.vt) {
    case VT_BOOL:
        out->i = v.boolVal ? 1 : 0;
        break;
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_UI2: case VT_ERROR:
        if ((ok = SUCCEEDED(VariantChangeType(&to, &v, 0, VT_I4)))) out->i = to.lVal;
        break;
    case VT_UI4: case VT_UINT: case VT_I8: case VT_UI8:
        if ((ok = SUCCEEDED(VariantChangeType(&to, &v, 0, VT_I8)))) {
            out->type = TW_INT64;
            out->i64 = to.llVal;
        }
        break;
    case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_DECIMAL:
        if ((ok = SUCCEEDED(VariantChangeType(&to, &v, 0, VT_R8)))) {
            out->type = TW_FLOAT;
            out->f = to.dblVal;
        }
        break;
    case VT_BSTR: {
        const wchar_t* b = v.bstrVal ? v.bstrVal : L"";
        uint64_t h = heap_wstrdup(st, b, wcslen(b));
        if (!h) {
            st->err = 3096;
            ok = false;
        } else {
            out->type = TW_UNICODE;
            out->i = 0;
            out->wstr = h;
        }
        break;
    }
    default:
        ok = false;
    }
    VariantClear(&to);
    VariantClear(&v);
    return ok;
}

// Converts a VARIANT cell through its plain value with `conv`; on success the
// converted value replaces the cell.
template <class Conv>
bool via_variant(State* st, Cell* c, Conv conv) {
    Cell plain;
    if (!variant_value(st, &c->var, &plain)) return false;
    if (!conv(&plain)) {
        cell_release(st, &plain, CM_BARE);
        return false;
    }
    replace(st, c, plain);
    return true;
}

}  // namespace

// ---- numbers ---------------------------------------------------------------

bool conv_to_int(State* st, Cell* c, bool allowFloat, bool allowInt64) {
    int64_t v;
    bool is64;
    switch (kind_of(c)) {
    case K_INT:
        if (c->type & OWNED_BITS) set_int(st, c, c->i);
        return true;
    case K_INT64:
        if (allowInt64) {
            if (c->type & OWNED_BITS) set_int64(st, c, c->i64);
        } else {
            set_int(st, c, static_cast<int32_t>(c->i64));   // keeps the low 32 bits
        }
        return true;
    case K_FLOAT:
        if (!allowFloat || !float_to_int(c->f, allowInt64, &v, &is64)) return false;
        set_integer(st, c, v, is64);
        return true;
    case K_TEXT:
    case K_WTEXT: {
        std::string tmp;
        const char* s = ansi_view(st, c, tmp);
        if (!s) return false;
        if (!text_is_integer(s, allowInt64, &v, &is64)) {
            double f;
            if (!allowFloat || !text_is_float(st, s, &f) || !float_to_int(f, allowInt64, &v, &is64))
                return false;
        }
        set_integer(st, c, v, is64);
        return true;
    }
    case K_VARIANT:
        return via_variant(st, c, [&](Cell* p) { return conv_to_int(st, p, allowFloat, allowInt64); });
    default:
        return false;
    }
}

bool conv_to_float(State* st, Cell* c) {
    switch (kind_of(c)) {
    case K_INT:
        set_float(st, c, c->i);
        return true;
    case K_INT64:
        set_float(st, c, static_cast<double>(c->i64));
        return true;
    case K_FLOAT:
        if (c->type & OWNED_BITS) set_float(st, c, c->f);
        return true;
    case K_TEXT:
    case K_WTEXT: {
        std::string tmp;
        double f;
        const char* s = ansi_view(st, c, tmp);
        if (!s || !text_is_float(st, s, &f)) return false;
        set_float(st, c, f);
        return true;
    }
    case K_VARIANT:
        return via_variant(st, c, [&](Cell* p) { return conv_to_float(st, p); });
    default:
        return false;
    }
}

bool conv_to_number(State* st, Cell* c) {
    switch (kind_of(c)) {
    case K_INT:
        if (c->type & OWNED_BITS) set_int(st, c, c->i);
        return true;
    case K_INT64:
        if (c->type & OWNED_BITS) set_int64(st, c, c->i64);
        return true;
    case K_FLOAT:
        if (c->type & OWNED_BITS) set_float(st, c, c->f);
        return true;
    case K_TEXT:
    case K_WTEXT: {
        std::string tmp;
        const char* s = ansi_view(st, c, tmp);
        if (!s) return false;
        int64_t v;
        bool is64;
        double f;
        if (text_is_integer(s, true, &v, &is64)) set_integer(st, c, v, is64);
        else if (text_is_float(st, s, &f)) set_float(st, c, f);
        else return false;
        return true;
    }
    case K_VARIANT:
        return via_variant(st, c, [&](Cell* p) { return conv_to_number(st, p); });
    default:
        return false;
    }
}

// ---- text ------------------------------------------------------------------

namespace {

// One routine for both text kinds: `wide` selects UTF-16.
bool conv_to_text(State* st, Cell* c, bool wide) {
    const uint32_t want = wide ? TW_UNICODE : TW_STRING;
    uint64_t h = 0;
    switch (kind_of(c)) {
    case K_TEXT:
    case K_WTEXT:
        if (c->type == want) return true;
        if (c->type & want)   // the wanted text is there beside other bits: keep only it
            h = wide ? heap_wstrdup(st, cell_wstr(st, c), wcslen(cell_wstr(st, c)))
                     : heap_strdup(st, cell_str(st, c), strlen(cell_str(st, c)));
        else
            h = wide ? heap_wide_from_ansi(st, cell_str(st, c)) : heap_ansi_from_wide(st, cell_wstr(st, c));
        break;
    case K_INT:
    case K_INT64:
    case K_FLOAT: {
        char buf[400];
        if (!number_text(st, c, buf, sizeof buf)) return false;
        h = wide ? heap_wide_from_ansi(st, buf) : heap_strdup(st, buf, strlen(buf));
        break;
    }
    case K_VARIANT:
        return via_variant(st, c, [&](Cell* p) { return conv_to_text(st, p, wide); });
    default:
        return false;
    }
    if (!h) {
        st->err = 3096;
        return false;
    }
    set_text_handle(st, c, h, wide);
    return true;
}

}  // namespace

bool conv_to_ansi(State* st, Cell* c) { return conv_to_text(st, c, false); }
bool conv_to_wide(State* st, Cell* c) { return conv_to_text(st, c, true); }
