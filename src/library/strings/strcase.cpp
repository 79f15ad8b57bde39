// StrUpper, StrLower (case conversion) and StrCmp, StrICmp (comparison in
// the user locale's collation order, not code order).
#include "library/strings/strings.h"
#include <string>

using namespace strings;

namespace {

template <class C>
void change_case(State* st, Cell* result, Cell* args, bool upper) {
    Env<C> env(st);
    const Text<C> s = env.text(args[1]);
    C* out = result_alloc<C>(st, result, s.len);
    if (!out) return;
    memcpy(out, s.p, s.len * sizeof(C));
    convert_case(env.r, out, s.len, upper);
}

int sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// ANSI text in a code page other than the system's is compared through its
// wide form, since the platform's ANSI comparison reads the system code page.
std::wstring widen(const char* s, UINT cp) {
    std::wstring out;
    const int n = MultiByteToWideChar(cp, 0, s, -1, nullptr, 0);
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        MultiByteToWideChar(cp, 0, s, -1, out.data(), n);
    }
    return out;
}

void compare(State* st, Cell* result, Cell* args, bool wide, bool nocase) {
    const int r = wide ? locale_compare(st, cell_wstr(st, &args[1]), cell_wstr(st, &args[2]), nocase)
                       : locale_compare(st, cell_str(st, &args[1]), cell_str(st, &args[2]), nocase);
    if (!st->err) cell_set_int(st, result, r);
}

}  // namespace

namespace strings {

int locale_compare(State*, const wchar_t* a, const wchar_t* b, bool nocase) {
    return sign(nocase ? lstrcmpiW(a, b) : lstrcmpW(a, b));
}

int locale_compare(State* st, const char* a, const char* b, bool nocase) {
    const UINT cp = effective_cp(st);
    if (cp == GetACP()) return sign(nocase ? lstrcmpiA(a, b) : lstrcmpA(a, b));
    try {
        return locale_compare(st, widen(a, cp).c_str(), widen(b, cp).c_str(), nocase);
    } catch (const std::bad_alloc&) {
        st->err = 1588;
        return 0;
    }
}

}  // namespace strings

void fn_strupper(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { change_case<decltype(unit)>(st, result, args, true); });
}

void fn_strlower(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { change_case<decltype(unit)>(st, result, args, false); });
}

void fn_strcmp(State* st, int, Cell* result, Cell* args, bool wide) { compare(st, result, args, wide, false); }
void fn_stricmp(State* st, int, Cell* result, Cell* args, bool wide) { compare(st, result, args, wide, true); }
