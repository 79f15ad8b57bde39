// Numbers as text and text as numbers, the Decimals setting, and the
// floating-point fault slot filled by the math library's error callback.
//
// Float formatting goes through the MinGW C99 printf family so the text is the
// same on every system: exponents have at least two digits ("1.00000000e+10").
#include "eval.h"
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// ---- the fault slot --------------------------------------------------------

volatile int g_fpFault = 0;

namespace {

// Maps the math library's error kinds to our numbers. The failing function
// returns 1.0 so the computation goes on harmlessly until the fault is raised
// by whoever reads the slot; an underflow is not an error and returns 0.0.
int __cdecl math_error(struct _exception* e) {
    switch (e->type) {
    case _UNDERFLOW: e->retval = 0.0; return 1;
    case _DOMAIN:    g_fpFault = 1341; break;
    case _OVERFLOW:  g_fpFault = 1342; break;
    case _PLOSS:     g_fpFault = 1343; break;
    case _SING:      g_fpFault = 1344; break;
    case _TLOSS:     g_fpFault = 1345; break;
    default:         g_fpFault = 1347; break;
    }
    e->retval = 1.0;
    return 1;
}

// Installed when the library (or a test program) loads.
struct MathErrorHook {
    MathErrorHook() { __mingw_setusermatherr(math_error); }
} g_mathErrorHook;

}  // namespace

int fp_take_fault() {
    int f = g_fpFault;
    if (f) g_fpFault = 0;
    return f;
}

bool fp_check_result(State* st, double* v) {
    if (int f = fp_take_fault()) {
        st->err = static_cast<uint16_t>(f);
        return false;
    }
    double a = std::fabs(*v);
    if (std::isnan(*v)) {
        st->err = 1341;
        return false;
    }
    if (a > 1e300) {
        st->err = 1342;
        return false;
    }
    if (a < 1e-300) *v = 0.0;
    return true;
}

// ---- Decimals --------------------------------------------------------------

void eval_state_init(State* st) { st->decimals = -1; }

int set_decimals(State* st, int d) {
    int old = st->decimals;
    if (d > 8) d = 8;
    if (d < -3) d = -1;
    st->decimals = d;
    return old;
}

// ---- number to text --------------------------------------------------------

int int64_text(int64_t v, char* out) {
    char tmp[24];
    int n = 0;
    // Work on the unsigned magnitude so the minimum value needs no special case.
    uint64_t m = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    do {
        tmp[n++] = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m);
    int len = 0;
    if (v < 0) out[len++] = '-';
    while (n) out[len++] = tmp[--n];
    out[len] = 0;
    return len;
}

namespace {

// Puts a "0" before a text that starts with "." (or "-.").
void lead_zero(char* s, size_t size) {
    char* p = s[0] == '-' ? s + 1 : s;
    if (*p != '.') return;
    size_t len = strlen(s);
    if (len + 2 > size) return;
    memmove(p + 1, p, strlen(p) + 1);
    *p = '0';
}

}  // namespace

bool float_text(State* st, double v, char* out, size_t size) {
    if (!std::isfinite(v)) {
        st->err = 1599;
        if (size) out[0] = 0;
        return false;
    }
    const int d = st->decimals;
    const double mag = std::fabs(v);
    if (v == 0.0 && d == -1) {
        snprintf(out, size, "0.0");
        return true;
    }
    if (d == 0 && mag <= 2147483647.0) {
        int64_text(static_cast<int64_t>(std::round(v)), out);   // round() is half away from zero
        return true;
    }
    if (d == -2 || d == -3) {
        __mingw_snprintf(out, size, d == -2 ? "%g" : "%e", v);
        lead_zero(out, size);
        return true;
    }
    const int p = d < 0 ? 8 : d;
    const int m = d < 0 ? 1 : d;
    bool fixed = false;
    if (mag > 999999999.0 || (mag < 0.0001 && d == -1)) {
        __mingw_snprintf(out, size, "%#1.*e", p, v);
    } else {
        __mingw_snprintf(out, size, "%#1.*f", p, v);
        fixed = true;
    }
    char* dot = strchr(out, '.');
    if (!dot) {
        strncat(out, ".0", size - strlen(out) - 1);
        return true;
    }
    if (fixed) {
        size_t len = strlen(out);
        if (d < 0)
            while (len > 0 && out[len - 1] == '0') out[--len] = 0;
        size_t frac = strlen(dot + 1);
        while (frac < static_cast<size_t>(m) && len + 1 < size) {
            out[len++] = '0';
            out[len] = 0;
            frac++;
        }
    }
    return true;
}

bool number_text(State* st, const Cell* c, char* out, size_t size) {
    if (c->type & (TW_INT | TW_INT64)) {
        char buf[24];
        int64_text((c->type & TW_INT) ? c->i : c->i64, buf);
        if (size) {   // cut to the buffer like the formatter would
            const size_t n = strlen(buf), k = n < size ? n : size - 1;
            memcpy(out, buf, k);
            out[k] = 0;
        }
        return true;
    }
    if (c->type & TW_FLOAT) return float_text(st, c->f, out, size);
    if (size) out[0] = 0;
    return false;
}

// ---- text to number --------------------------------------------------------

bool text_is_integer(const char* s, bool allowInt64, int64_t* v, bool* is64) {
    while (*s == ' ' || *s == '\t') s++;
    bool neg = false;
    if (*s == '+' || *s == '-') neg = *s++ == '-';
    if (*s < '0' || *s > '9') return false;
    uint64_t acc = 0;
    while (*s >= '0' && *s <= '9') acc = acc * 10 + static_cast<uint64_t>(*s++ - '0');
    if (*s) return false;
    if (neg) acc = 0 - acc;
    if (allowInt64) {
        int64_t x = static_cast<int64_t>(acc);
        *v = x;
        *is64 = x < INT32_MIN || x > INT32_MAX;
    } else {
        *v = static_cast<int32_t>(static_cast<uint32_t>(acc));
        *is64 = false;
    }
    return true;
}

bool text_is_float(State* st, const char* s, double* v) {
    // Only the characters of a decimal number may appear, so the runtime's
    // extensions (hexadecimal, "inf", "nan") and "d" exponents are refused.
    for (const char* p = s; *p; p++) {
        char ch = *p;
        if (!((ch >= '0' && ch <= '9') || ch == '.' || ch == 'e' || ch == 'E' || ch == '+' || ch == '-' ||
              ch == ' ' || ch == '\t'))
            return false;
    }
    char* end = nullptr;
    errno = 0;
    double x = strtod(s, &end);
    if (end == s || *end) return false;
    if (errno == ERANGE) {
        if (std::fabs(x) > 1.0) {
            st->err = 1342;
            return false;
        }
        x = 0.0;
    }
    *v = x;
    return true;
}

bool float_to_int(double f, bool allowInt64, int64_t* v, bool* is64) {
    if (std::isnan(f)) return false;
    double mag = std::fabs(f);
    if (mag > 2147483645.0) {
        if (!allowInt64 || mag > 9223372036854775808.0) return false;
        double r = std::round(f);
        // +2^63 does not fit: it wraps to the minimum, as integer arithmetic would.
        *v = r >= 9223372036854775808.0 ? INT64_MIN : static_cast<int64_t>(r);
        *is64 = true;
        return true;
    }
    *v = static_cast<int64_t>(std::round(f));
    *is64 = false;
    return true;
}
