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
bool to_wide(State* st, const Cell* c, UINT cp, std::wstring& out) {
    const char* s = cell_str(st, c);
    const int n = MultiByteToWideChar(cp, 0, s, -1, nullptr, 0);
    if (n <= 0) return out.clear(), true;
    try {
        out.resize(static_cast<size_t>(n));
    } catch (...) {
        st->err = 1588;
        return false;
    }
    MultiByteToWideChar(cp, 0, s, -1, out.data(), n);
    return true;
}

void compare(State* st, Cell* result, Cell* args, bool wide, bool nocase) {
    int r;
    if (wide) {
        const wchar_t *a = cell_wstr(st, &args[1]), *b = cell_wstr(st, &args[2]);
        r = nocase ? lstrcmpiW(a, b) : lstrcmpW(a, b);
    } else if (effective_cp(st) == GetACP()) {
        const char *a = cell_str(st, &args[1]), *b = cell_str(st, &args[2]);
        r = nocase ? lstrcmpiA(a, b) : lstrcmpA(a, b);
    } else {
        std::wstring a, b;
        const UINT cp = effective_cp(st);
        if (!to_wide(st, &args[1], cp, a) || !to_wide(st, &args[2], cp, b)) return;
        r = nocase ? lstrcmpiW(a.c_str(), b.c_str()) : lstrcmpW(a.c_str(), b.c_str());
    }
    cell_set_int(st, result, sign(r));
}

}  // namespace

void fn_strupper(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { change_case<decltype(unit)>(st, result, args, true); });
}

void fn_strlower(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { change_case<decltype(unit)>(st, result, args, false); });
}

void fn_strcmp(State* st, int, Cell* result, Cell* args, bool wide) { compare(st, result, args, wide, false); }
void fn_stricmp(State* st, int, Cell* result, Cell* args, bool wide) { compare(st, result, args, wide, true); }
