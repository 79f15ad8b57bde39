// StrTrim (spaces and tabs), StrTrimChar (a set of characters) at either
// end, and StrClean (characters in, or not in, a set replaced).
#include "library/strings/strings.h"

using namespace strings;

namespace {

template <class C>
constexpr C kBlanks[3] = {C(' '), C('\t'), C(0)};

// s without the characters of `set` at the start (flags bit 0) and/or the end
// (bit 1); flags with neither bit trim both ends. A string made only of such
// characters gives the empty string whatever the flags.
template <class C>
void trim(const Env<C>& env, Cell* result, const Text<C>& s, const Text<C>& set, int flags) {
    if (!(flags & 3)) flags = 3;
    const CharSet<C> in(env, set, false);
    size_t first = 0;
    while (first < s.len && in.contains(s.p + first, s.width(first))) first = s.next(first);
    if (first == s.len) {
        result_empty<C>(env.st, result);
        return;
    }
    size_t end = s.len;
    if (flags & 2) {
        if (!s.lead) {
            while (end > first && in.contains(s.p + end - 1, 1)) --end;
        } else {   // walk forward, remembering the end of the last kept character
            for (size_t i = first; i < s.len; i = s.next(i))
                if (!in.contains(s.p + i, s.width(i))) end = s.next(i);
        }
    }
    const size_t from = (flags & 1) ? first : 0;
    result_copy(env.st, result, s.p + from, end - from);
}

template <class C>
void strtrim(State* st, int nargs, Cell* result, Cell* args) {
    Env<C> env(st);
    trim(env, result, env.text(args[1]), env.text(kBlanks<C>, 2), nargs >= 2 ? args[2].i : 3);
}

template <class C>
void strtrimchar(State* st, int nargs, Cell* result, Cell* args) {
    Env<C> env(st);
    const Text<C> s = env.text(args[1]), set = env.text(args[2]);
    int flags = nargs >= 3 ? args[3].i : 3;
    if (flags < 1 || flags > 3) flags = 3;
    if (set.empty()) {   // nothing to trim
        result_copy(st, result, s.p, s.len);
        return;
    }
    trim(env, result, s, set, flags);
}

// StrClean(s, chars, replacement, match-case, mode): mode 1 replaces the
// characters of s that are in chars, mode 2 those that are not; match-case 0
// compares upper-case forms. The selected characters are counted first and
// the result built in a work buffer of the exact size.
template <class C>
void strclean(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    const int matchCase = args[4].i, mode = args[5].i;
    if (matchCase != 0 && matchCase != 1) {
        st->err = 1616;
        return;
    }
    if (mode != 1 && mode != 2) {
        st->err = 1617;
        return;
    }
    const Text<C> s = env.text(args[1]), set = env.text(args[2]), rep = env.text(args[3]);
    const CharSet<C> in(env, set, matchCase == 0);
    auto selected = [&](size_t i) { return in.contains(s.p + i, s.width(i)) == (mode == 1); };
    uint64_t count = 0;
    for (size_t i = 0; i < s.len; i = s.next(i))
        if (selected(i)) ++count;
    const uint64_t units = rep.len * count + s.len + 1;
    if (!fits_heap(st, units, sizeof(C))) {
        st->err = 3096;
        return;
    }
    WorkBuffer work;
    if (!work.alloc(st, units * sizeof(C))) return;
    C* out = work.get<C>();
    for (size_t i = 0; i < s.len; i = s.next(i)) {
        if (selected(i)) {
            memcpy(out, rep.p, rep.len * sizeof(C));
            out += rep.len;
        } else {
            memcpy(out, s.p + i, s.width(i) * sizeof(C));
            out += s.width(i);
        }
    }
    result_copy(st, result, work.get<C>(), static_cast<size_t>(out - work.get<C>()));
}

}  // namespace

void fn_strtrim(State* st, int nargs, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { strtrim<decltype(unit)>(st, nargs, result, args); });
}

void fn_strtrimchar(State* st, int nargs, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { strtrimchar<decltype(unit)>(st, nargs, result, args); });
}

void fn_strclean(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { strclean<decltype(unit)>(st, result, args); });
}
