// Binary and unary operators: arithmetic with INT / INT64 / FLOAT promotion,
// bitwise and logical operators, concatenation and comparison in every mode.
//
// Integer arithmetic wraps around (it is done on unsigned values, so overflow
// is defined); division and remainder of the most negative value by -1 give the
// wrapped quotient and remainder 0 instead of trapping in the processor.
#include "eval.h"
#include "textscan.h"
#include "value.h"
#include "errors.h"
#include "keywords.h"
#include <cmath>
#include <cstring>
#include <new>
#include <string>

namespace {

// Releases a temporary (it may be a copy read from a variable, whose variant
// is shared and therefore kept).
inline void drop(State* st, Cell* c) {
    cell_release(st, c, CM_VARBOUND);
    cell_init(c, 0);
}

bool fail2(State* st, Cell* l, Cell* r, uint16_t err) {
    if (err && !st->err) st->err = err;
    drop(st, l);
    drop(st, r);
    return false;
}

void put_int(Cell* c, int32_t v) { cell_init(c, v); }
void put_int64(Cell* c, int64_t v) {
    cell_init(c, 0);
    c->type = TW_INT64;
    c->i64 = v;
}
void put_float(Cell* c, double v) {
    cell_init(c, 0);
    c->type = TW_FLOAT;
    c->f = v;
}

bool is_comparison(uint32_t op) {
    switch (op) {
    case KW_OP_EQ: case KW_OP_NE: case KW_OP_NE2: case KW_OP_LT: case KW_OP_LE: case KW_OP_GT: case KW_OP_GE:
        return true;
    default:
        return false;
    }
}

// ---- integer arithmetic ----------------------------------------------------

// One template for 32 and 64 bits: S is the signed type, U its unsigned twin.
template <class S, class U>
bool int_op(State* st, uint32_t op, S a, S b, S* r) {
    constexpr int bits = sizeof(S) * 8;
    const U ua = static_cast<U>(a), ub = static_cast<U>(b);
    switch (op) {
    case KW_OP_PLUS:  *r = static_cast<S>(ua + ub); return true;
    case KW_OP_MINUS: *r = static_cast<S>(ua - ub); return true;
    case KW_OP_STAR:  *r = static_cast<S>(ua * ub); return true;
    case KW_OP_DIV:
    case KW_MOD:
        if (b == 0) {
            st->err = 3062;
            return false;
        }
        if (b == -1) {   // the minimum divided by -1 would trap; negate with wrap-around
            *r = op == KW_OP_DIV ? static_cast<S>(U(0) - ua) : 0;
            return true;
        }
        *r = op == KW_OP_DIV ? a / b : a % b;
        return true;
    case KW_OP_AMP:   *r = static_cast<S>(ua & ub); return true;
    case KW_OP_OR:    *r = static_cast<S>(ua | ub); return true;
    case KW_OP_XOR:   *r = static_cast<S>(ua ^ ub); return true;
    case KW_OP_SHL:   *r = static_cast<S>(ua << (ub & (bits - 1))); return true;
    case KW_OP_SHR:   *r = static_cast<S>(a >> (ub & (bits - 1))); return true;   // arithmetic shift
    case KW_OP_ANDAND: *r = (a && b) ? 1 : 0; return true;
    case KW_OP_OROR:   *r = (a || b) ? 1 : 0; return true;
    case KW_OP_POWER: {
        if (b < 0) {
            st->err = 1351;
            return false;
        }
        // Square-and-multiply gives the same wrapped product as multiplying
        // the base by itself b times, without b iterations.
        U result = 1, base = ua;
        for (U e = static_cast<U>(b); e; e >>= 1) {
            if (e & 1) result *= base;
            base *= base;
        }
        *r = static_cast<S>(result);
        return true;
    }
    default:
        st->err = 3063;
        return false;
    }
}

// ---- float arithmetic ------------------------------------------------------

// Result in *r, or an INT in *ir for && and || (*isInt set).
bool float_op(State* st, uint32_t op, double a, double b, double* r, int32_t* ir, bool* isInt) {
    *isInt = false;
    switch (op) {
    case KW_OP_PLUS:  *r = a + b; break;
    case KW_OP_MINUS: *r = a - b; break;
    case KW_OP_STAR:  *r = a * b; break;
    case KW_OP_DIV:
        if (b == 0.0) {
            st->err = 3062;
            return false;
        }
        *r = a / b;
        break;
    case KW_MOD:
        if (b == 0.0) {
            st->err = 3062;
            return false;
        }
        *r = a - b * std::trunc(a / b);
        break;
    case KW_OP_POWER:
        fp_take_fault();
        *r = std::pow(a, b);
        break;
    case KW_OP_ANDAND:
        *isInt = true;
        *ir = (a != 0.0 && b != 0.0) ? 1 : 0;
        return true;
    case KW_OP_OROR:
        *isInt = true;
        *ir = (a != 0.0 || b != 0.0) ? 1 : 0;
        return true;
    default:   // & | ^ << >> have no meaning for floats
        st->err = 3063;
        return false;
    }
    return fp_check_result(st, r);
}

bool arithmetic(State* st, uint32_t op, Cell* l, Cell* r) {
    // Two plain 32-bit integers, the common case: nothing to convert.
    constexpr uint32_t kNotPlain = TW_STRING | TW_UNICODE | TW_ARRAY | TW_VARIANT | TW_COMOBJ;
    if ((l->type & r->type & TW_INT) && !((l->type | r->type) & kNotPlain)) {
        int32_t res;
        if (!int_op<int32_t, uint32_t>(st, op, l->i, r->i, &res)) return fail2(st, l, r, 0);
        put_int(l, res);
        cell_init(r, 0);
        return true;
    }
    if (!conv_to_number(st, l) || !conv_to_number(st, r)) return fail2(st, l, r, 3057);
    const uint32_t tl = l->type, tr = r->type;
    if ((tl | tr) & TW_FLOAT) {
        double a = (tl & TW_FLOAT) ? l->f : (tl & TW_INT64) ? static_cast<double>(l->i64) : l->i;
        double b = (tr & TW_FLOAT) ? r->f : (tr & TW_INT64) ? static_cast<double>(r->i64) : r->i;
        double res;
        int32_t ires;
        bool isInt;
        if (!float_op(st, op, a, b, &res, &ires, &isInt)) return fail2(st, l, r, 0);
        if (isInt) put_int(l, ires);
        else put_float(l, res);
    } else if ((tl | tr) & TW_INT64) {
        int64_t a = (tl & TW_INT64) ? l->i64 : l->i;
        int64_t b = (tr & TW_INT64) ? r->i64 : r->i;
        int64_t res;
        if (!int_op<int64_t, uint64_t>(st, op, a, b, &res)) return fail2(st, l, r, 0);
        put_int64(l, res);
    } else {
        int32_t res;
        if (!int_op<int32_t, uint32_t>(st, op, l->i, r->i, &res)) return fail2(st, l, r, 0);
        put_int(l, res);
    }
    cell_init(r, 0);   // numbers own nothing
    return true;
}

// ---- concatenation ---------------------------------------------------------

// Joins the texts of both cells as ANSI (char) or UTF-16 (wchar_t).
template <class Ch>
bool join(State* st, Cell* l, Cell* r) {
    constexpr bool wide = sizeof(Ch) == sizeof(wchar_t);
    const bool ok = wide ? conv_to_wide(st, l) && conv_to_wide(st, r) : conv_to_ansi(st, l) && conv_to_ansi(st, r);
    if (!ok) return fail2(st, l, r, 3056);
    const uint64_t ha = wide ? l->wstr : l->str, hb = wide ? r->wstr : r->str;
    const Ch* a = ha ? reinterpret_cast<const Ch*>(st->heapBase + ha) : reinterpret_cast<const Ch*>(L"");
    const Ch* b = hb ? reinterpret_cast<const Ch*>(st->heapBase + hb) : reinterpret_cast<const Ch*>(L"");
    const size_t na = text_len(a), nb = text_len(b);
    // The heap grows in place, so a and b stay valid across the allocation.
    const uint64_t h = VMalloc(st, (na + nb + 1) * sizeof(Ch));
    if (!h) return fail2(st, l, r, 3096);
    Ch* p = reinterpret_cast<Ch*>(st->heapBase + h);
    text_copy(p, a, na * sizeof(Ch));
    text_copy(p + na, b, (nb + 1) * sizeof(Ch));
    drop(st, l);
    drop(st, r);
    l->type = wide ? TW_UNICODE : TW_STRING;
    (wide ? l->wstr : l->str) = h;
    return true;
}

// ":" is wide when either side is UNICODE or an automation value.
bool concat(State* st, Cell* l, Cell* r) {
    if ((l->type | r->type) & (TW_UNICODE | TW_VARIANT)) return join<wchar_t>(st, l, r);
    return join<char>(st, l, r);
}

// ---- comparison ------------------------------------------------------------

// One side of a comparison, read without changing the cell.
struct Side {
    enum { INT, INT64, FLOAT, TEXT } kind;
    int64_t iv = 0;        // INT / INT64 value; for TEXT the integer value when isInt
    double fv = 0;         // FLOAT value; for TEXT the number when isNum
    bool wide = false;     // TEXT held as UTF-16
    bool isInt = false;    // TEXT: an integer text
    bool isNum = false;    // TEXT: a decimal number (integers included)
    size_t len = 0;        // TEXT: characters of the ANSI text
    const char* a = "";    // TEXT: ANSI text
    const wchar_t* w = L"";   // TEXT: wide text when `wide`
    std::string abuf;
    std::wstring wbuf;
    Cell plain;            // a variant's plain value (released by the caller)
    bool hasPlain = false;
};

bool read_side(State* st, const Cell* c, Side* s) {
    const Cell* src = c;
    if (!(c->type & (TW_INT | TW_INT64 | TW_FLOAT | TW_STRING | TW_UNICODE | TW_ARRAY)) &&
        (c->type & TW_COMOBJ) == TW_VARIANT) {
        // A variant compares by its plain value: convert a bare copy of it.
        cell_init(&s->plain, 0);
        s->plain.type = TW_VARIANT;
        if (FAILED(VariantCopy(&s->plain.var, const_cast<VARIANT*>(&c->var)))) return false;
        s->hasPlain = true;
        if (!conv_to_number(st, &s->plain) && !conv_to_wide(st, &s->plain)) return false;
        src = &s->plain;
    }
    const uint32_t t = src->type;
    if (t & TW_ARRAY) return false;
    if (t & TW_INT) {
        s->kind = Side::INT;
        s->iv = src->i;
    } else if (t & TW_INT64) {
        s->kind = Side::INT64;
        s->iv = src->i64;
    } else if (t & TW_FLOAT) {
        s->kind = Side::FLOAT;
        s->fv = src->f;
    } else if (t & (TW_STRING | TW_UNICODE)) {
        s->kind = Side::TEXT;
        if (t & TW_STRING) {
            s->a = cell_str(st, src);
        } else {
            s->wide = true;
            s->wbuf = cell_wstr(st, src);
            s->w = s->wbuf.c_str();
            int n = WideCharToMultiByte(st->codePage, 0, s->w, -1, nullptr, 0, nullptr, nullptr);
            s->abuf.assign(n > 0 ? static_cast<size_t>(n) : 1, '\0');
            if (n > 0) WideCharToMultiByte(st->codePage, 0, s->w, -1, s->abuf.data(), n, nullptr, nullptr);
            s->a = s->abuf.c_str();
        }
        s->len = strlen(s->a);
        bool is64;
        s->isInt = text_is_integer(s->a, true, &s->iv, &is64);
        if (s->isInt) {
            s->isNum = true;
            s->fv = static_cast<double>(s->iv);
        } else {
            const uint16_t saved = st->err;
            st->err = 0;
            s->isNum = text_is_float(st, s->a, &s->fv);
            if (st->err) return false;   // 1342: a number too large
            st->err = saved;
        }
    } else {
        return false;
    }
    return true;
}

double side_float(const Side& s) { return s.kind == Side::FLOAT || s.kind == Side::TEXT ? s.fv : double(s.iv); }

// Text of a side for the text and long-text modes.
bool side_text(State* st, Side& s) {
    if (s.kind == Side::TEXT) return true;
    char buf[400];
    if (s.kind == Side::FLOAT) {
        if (!float_text(st, s.fv, buf, sizeof buf)) return false;
    } else {
        int64_text(s.iv, buf);
    }
    s.abuf = buf;
    s.a = s.abuf.c_str();
    s.len = s.abuf.size();
    return true;
}

// Compares two decimal integer texts of any length: -1, 0, 1.
int long_compare(State* st, const char* a, const char* b) {
    struct Num {
        bool neg;
        const char* digits;
        size_t n;
    };
    auto parse = [&](const char* s, Num* out) {
        while (*s == ' ' || *s == '\t') s++;
        out->neg = false;
        if (*s == '+' || *s == '-') out->neg = *s++ == '-';
        while (*s == '0') s++;
        out->digits = s;
        while (*s >= '0' && *s <= '9') s++;
        out->n = static_cast<size_t>(s - out->digits);
        if (*s == ' ') {
            internal_error(st, "Trailing spaces in numeric string");
            return false;
        }
        return true;
    };
    Num x, y;
    if (!parse(a, &x) || !parse(b, &y)) return 0;
    if (x.n == 0) x.neg = false;   // "0" equals "-0"
    if (y.n == 0) y.neg = false;
    if (x.neg != y.neg) return x.neg ? -1 : 1;
    int mag;
    if (x.n != y.n) mag = x.n < y.n ? -1 : 1;
    else {
        int c = strncmp(x.digits, y.digits, x.n);
        mag = c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    return x.neg ? -mag : mag;
}

bool relation(uint32_t op, int cmp) {
    switch (op) {
    case KW_OP_EQ: return cmp == 0;
    case KW_OP_NE:
    case KW_OP_NE2: return cmp != 0;
    case KW_OP_LT: return cmp < 0;
    case KW_OP_LE: return cmp <= 0;
    case KW_OP_GT: return cmp > 0;
    default: return cmp >= 0;   // KW_OP_GE
    }
}

enum Mode { M_INT, M_INT64, M_FLOAT, M_FLOATDIFF, M_LONG, M_TEXT };

// The comparison mode the two kinds select.
Mode pick_mode(const Side& l, const Side& r) {
    using K = decltype(Side::kind);
    const K a = l.kind, b = r.kind;
    if (a != Side::TEXT && b != Side::TEXT) {
        if (a == Side::FLOAT || b == Side::FLOAT)
            return (a == Side::INT64 || b == Side::INT64) ? M_FLOATDIFF : M_FLOAT;
        if (a == Side::INT64 || b == Side::INT64) return M_INT64;
        return M_INT;
    }
    if (a == Side::TEXT && b == Side::TEXT) {
        if (l.isInt && r.isInt) return (l.len > 9 || r.len > 9) ? M_LONG : M_INT;
        if (l.isNum && r.isNum) return M_FLOAT;
        return M_TEXT;
    }
    const Side& s = a == Side::TEXT ? l : r;   // the text side
    const K other = a == Side::TEXT ? b : a;
    switch (other) {
    case Side::INT:
        if (s.isInt) return s.len > 9 ? M_LONG : M_INT;
        return s.isNum ? M_FLOAT : M_TEXT;
    case Side::INT64:
        if (s.isInt) return M_INT64;
        return s.isNum ? M_FLOATDIFF : M_TEXT;
    default:   // FLOAT
        return s.isNum ? M_FLOAT : M_TEXT;
    }
}

// -1, 0, 1 in the chosen mode; false with the error set.
bool compare_sides(State* st, uint32_t op, Side& l, Side& r, bool nocase, int* cmp) {
    switch (pick_mode(l, r)) {
    case M_INT: {
        int32_t a = static_cast<int32_t>(l.iv), b = static_cast<int32_t>(r.iv);
        *cmp = a < b ? -1 : a > b ? 1 : 0;
        return true;
    }
    case M_INT64:
        *cmp = l.iv < r.iv ? -1 : l.iv > r.iv ? 1 : 0;
        return true;
    case M_FLOAT:
        if (op == KW_OP_EQ || op == KW_OP_NE || op == KW_OP_NE2) {
            // Equal as displayed by the Decimals setting means equal.
            char ta[400], tb[400];
            if (!float_text(st, side_float(l), ta, sizeof ta) || !float_text(st, side_float(r), tb, sizeof tb))
                return false;
            *cmp = strcmp(ta, tb) == 0 ? 0 : 1;
            return true;
        }
        [[fallthrough]];
    case M_FLOATDIFF: {
        double d = side_float(l) - side_float(r);
        if (std::isnan(d)) {
            st->err = 1599;
            return false;
        }
        *cmp = d < 0 ? -1 : d > 0 ? 1 : 0;
        return true;
    }
    case M_LONG:
        if (!side_text(st, l) || !side_text(st, r)) return false;
        *cmp = long_compare(st, l.a, r.a);
        return !st->err;
    case M_TEXT: {
        if (!side_text(st, l) || !side_text(st, r)) return false;
        const DWORD flags = nocase ? NORM_IGNORECASE : 0;
        int res;
        if (l.wide || r.wide) {
            auto widen = [&](Side& s) {
                if (s.wide) return;
                int n = MultiByteToWideChar(st->codePage, 0, s.a, -1, nullptr, 0);
                s.wbuf.assign(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
                if (n > 0) MultiByteToWideChar(st->codePage, 0, s.a, -1, s.wbuf.data(), n);
                s.w = s.wbuf.c_str();
            };
            widen(l);
            widen(r);
            res = CompareStringW(LOCALE_USER_DEFAULT, flags, l.w, -1, r.w, -1);
        } else {
            res = CompareStringA(LOCALE_USER_DEFAULT, flags, l.a, -1, r.a, -1);
        }
        if (res == 0) {   // the system could not compare: fall back to the byte order
            int c = strcmp(l.a, r.a);
            res = c < 0 ? CSTR_LESS_THAN : c > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
        }
        *cmp = res - CSTR_EQUAL;
        return true;
    }
    }
    return false;
}

}  // namespace

// ---- public entry points ---------------------------------------------------

bool compare_cells(State* st, uint32_t op, Cell* left, Cell* right, bool releaseStrings, bool nocase) {
    if (left->type == TW_INT && right->type == TW_INT && is_comparison(op)) {
        // Two plain integers (a loop's test): no text sides to read.
        const int32_t a = left->i, b = right->i;
        if (releaseStrings) cell_init(right, 0);
        cell_init(left, relation(op, a < b ? -1 : a > b ? 1 : 0) ? 1 : 0);
        return true;
    }
    int cmp = 0;
    bool ok;
    {
        Side l, r;
        if (!is_comparison(op)) {
            st->err = 3063;
            ok = false;
        } else {
            try {
                if (!read_side(st, left, &l) || !read_side(st, right, &r)) {
                    if (!st->err) st->err = 3057;
                    ok = false;
                } else {
                    ok = compare_sides(st, op, l, r, nocase, &cmp);
                }
            } catch (const std::bad_alloc&) {   // the copies of wide texts and number texts
                st->err = 1588;
                ok = false;
            }
        }
        if (l.hasPlain) cell_release(st, &l.plain, CM_BARE);
        if (r.hasPlain) cell_release(st, &r.plain, CM_BARE);
    }
    if (releaseStrings) {
        drop(st, left);
        drop(st, right);
    }
    cell_init(left, ok && relation(op, cmp) ? 1 : 0);
    return ok;
}

bool compare_order(State* st, const Cell* a, const Cell* b, bool nocase, int* cmp) {
    Side l, r;
    bool ok = read_side(st, a, &l) && read_side(st, b, &r);
    if (!ok && !st->err) st->err = 3057;
    if (ok) ok = compare_sides(st, KW_OP_LT, l, r, nocase, cmp);
    if (l.hasPlain) cell_release(st, &l.plain, CM_BARE);
    if (r.hasPlain) cell_release(st, &r.plain, CM_BARE);
    return ok;
}

bool apply_binary(State* st, uint32_t op, Cell* left, Cell* right) {
    if (is_comparison(op)) {
        bool ok = compare_cells(st, op, left, right, true, false);
        if (!ok) cell_init(left, 0);
        return ok;
    }
    if (op == KW_OP_CONCAT) return concat(st, left, right);
    return arithmetic(st, op, left, right);
}

bool apply_unary(State* st, uint32_t op, Cell* c) {
    if (op != KW_OP_NOT && op != KW_OP_MINUS && op != KW_OP_PLUS && op != KW_OP_TILDE) {
        st->err = 3064;
        drop(st, c);
        return false;
    }
    if (!conv_to_number(st, c)) {
        if (!st->err) st->err = 3057;
        drop(st, c);
        return false;
    }
    if (c->type & TW_FLOAT) {
        switch (op) {
        case KW_OP_NOT: put_int(c, c->f == 0.0 ? 1 : 0); break;
        case KW_OP_MINUS: c->f = -c->f; break;
        case KW_OP_TILDE:
            st->err = 3064;
            drop(st, c);
            return false;
        default: break;
        }
    } else if (c->type & TW_INT64) {
        const uint64_t u = static_cast<uint64_t>(c->i64);
        switch (op) {
        case KW_OP_NOT: c->i64 = c->i64 == 0 ? 1 : 0; break;
        case KW_OP_MINUS: c->i64 = static_cast<int64_t>(0 - u); break;
        case KW_OP_TILDE: c->i64 = static_cast<int64_t>(~u); break;
        default: break;
        }
    } else {
        const uint32_t u = static_cast<uint32_t>(c->i);
        switch (op) {
        case KW_OP_NOT: c->i = c->i == 0 ? 1 : 0; break;
        case KW_OP_MINUS: c->i = static_cast<int32_t>(0 - u); break;
        case KW_OP_TILDE: c->i = static_cast<int32_t>(~u); break;
        default: break;
        }
    }
    c->slot = SLOT_NONE;
    c->level = LEVEL_NONE;
    return true;
}
