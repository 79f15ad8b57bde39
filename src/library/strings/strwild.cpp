// StrIndexWild, StrLenWild, StrSubWild: the wildcard matcher (wildcard.h)
// applied to script strings.
#include "library/strings/strings.h"
#include "library/strings/wildcard.h"

using namespace strings;

namespace {

// Characters the pattern covers from unit offset `off` of s.
size_t match_at(const Env<char>& env, const Text<char>& s, size_t off, const Text<char>& pat) {
    return wild_match(s.p + off, s.len - off, pat.p, pat.len, env.r.lead, env.r.upper);
}
size_t match_at(const Env<wchar_t>&, const Text<wchar_t>& s, size_t off, const Text<wchar_t>& pat) {
    return wild_match(s.p + off, s.len - off, pat.p, pat.len);
}

// The match at start (0 counts as 1): its unit offset and length in
// characters; false when start is out of range or a text is empty.
template <class C>
bool match_from(const Env<C>& env, const Text<C>& s, const Text<C>& pat, int64_t start, size_t* off, size_t* len) {
    if (start == 0) start = 1;
    if (s.empty() || pat.empty() || start < 1 || start > static_cast<int64_t>(s.chars())) return false;
    *off = s.skip(0, static_cast<uint64_t>(start - 1));
    *len = match_at(env, s, *off, pat);
    return true;
}

template <class C>
void strlenwild(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    size_t off, len = 0;
    match_from(env, env.text(args[1]), env.text(args[2]), args[3].i, &off, &len);
    cell_set_int(st, result, static_cast<int32_t>(len));
}

template <class C>
void strsubwild(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    const Text<C> s = env.text(args[1]);
    size_t off = 0, len = 0;
    match_from(env, s, env.text(args[2]), args[3].i, &off, &len);
    const size_t to = s.skip(off, len);
    result_copy(st, result, s.p + off, to - off);
}

// The first position from start on where the pattern matches. Candidates end
// where the characters the pattern needs at least (all but `*`) still fit.
template <class C>
int64_t strindexwild(const Env<C>& env, const Text<C>& s, const Text<C>& pat, int64_t start) {
    if (s.empty()) return 0;
    if (start == 0) start = 1;
    if (pat.empty()) return start;
    const int64_t n = static_cast<int64_t>(s.chars());
    if (start < 1 || start > n) return 0;
    int64_t k = 0;
    for (size_t i = 0; i < pat.len; i = pat.next(i))
        if (pat.p[i] != '*') ++k;
    size_t off = s.skip(0, static_cast<uint64_t>(start - 1));
    for (int64_t p = start; p <= n - k + 1; ++p, off = s.next(off))
        if (match_at(env, s, off, pat)) return p;
    return 0;
}

}  // namespace

void fn_strlenwild(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { strlenwild<decltype(unit)>(st, result, args); });
}

void fn_strsubwild(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { strsubwild<decltype(unit)>(st, result, args); });
}

void fn_strindexwild(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) {
        using C = decltype(unit);
        Env<C> env(st);
        cell_set_int(st, result, static_cast<int32_t>(strindexwild(env, env.text(args[1]), env.text(args[2]), args[3].i)));
    });
}
