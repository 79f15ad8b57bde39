// StrIndex, StrIndexNc (position of a text), StrScan (position of any of a
// set of characters), StrCnt (number of occurrences in a range).
//
// Positions are characters from 1. A scan direction of 0 (@FWDSCAN) looks
// forward from the start position; any other value (@BACKSCAN is 1) looks
// backward. Backward scans of double-byte text walk forward and keep the
// last hit, since the text cannot be stepped backward reliably.
#include "library/strings/strings.h"

using namespace strings;

namespace {

// A start position of 0 means the first character forward and the last one
// backward.
int64_t resolve_start(int64_t start, int64_t n, bool back) { return start == 0 ? (back ? n : 1) : start; }

template <class C>
int64_t strindex(const Env<C>& env, const Text<C>& s, const Text<C>& sub, int64_t start, bool back, bool nocase) {
    const int64_t n = static_cast<int64_t>(s.chars());
    const int64_t m = static_cast<int64_t>(sub.chars());
    const int64_t pos = resolve_start(start, n, back);
    if (pos < 1 || pos > n) return 0;   // an empty s always ends here
    if (m == 0) return pos;
    auto at = [&](size_t off) { return off + sub.len <= s.len && env.same(s.p + off, sub.p, sub.len, nocase); };
    if (!back) {
        if (m > n - pos + 1) return 0;
        if (!s.lead && !nocase) {
            const size_t hit = s.view().find(sub.view(), static_cast<size_t>(pos - 1));
            return hit == std::basic_string_view<C>::npos ? 0 : static_cast<int64_t>(hit) + 1;
        }
        size_t off = s.skip(0, static_cast<uint64_t>(pos - 1));
        for (int64_t p = pos; p <= n - m + 1; ++p, off = s.next(off))
            if (at(off)) return p;
        return 0;
    }
    if (m > pos) return 0;   // the match must end at or before pos
    if (!s.lead) {
        for (int64_t p = pos - m + 1; p >= 1; --p)
            if (at(static_cast<size_t>(p - 1))) return p;
        return 0;
    }
    int64_t last = 0;
    size_t off = 0;
    for (int64_t p = 1; p <= pos - m + 1; ++p, off = s.next(off))
        if (at(off)) last = p;
    return last;
}

template <class C>
int64_t strscan(const Env<C>& env, const Text<C>& s, const Text<C>& delims, int64_t start, bool back) {
    if (s.empty()) return 0;
    const int64_t n = static_cast<int64_t>(s.chars());
    const int64_t pos = resolve_start(start, n, back);
    if (pos < 1 || pos > n) return 0;
    if (delims.empty()) return pos;
    const CharSet<C> set(env, delims, false);
    if (!back) {
        size_t off = s.skip(0, static_cast<uint64_t>(pos - 1));
        for (int64_t p = pos; off < s.len; ++p, off = s.next(off))
            if (set.contains(s.p + off, s.width(off))) return p;
        return 0;
    }
    if (!s.lead) {
        for (int64_t p = pos; p >= 1; --p)
            if (set.contains(s.p + p - 1, 1)) return p;
        return 0;
    }
    int64_t last = 0;
    size_t off = 0;
    for (int64_t p = 1; p <= pos; ++p, off = s.next(off))
        if (set.contains(s.p + off, s.width(off))) last = p;
    return last;
}

template <class C>
void index_call(State* st, Cell* result, Cell* args, bool nocase) {
    Env<C> env(st);
    cell_set_int(st, result, static_cast<int32_t>(strindex(env, env.text(args[1]), env.text(args[2]), args[3].i,
                                                           args[4].i != 0, nocase)));
}

// StrCnt(s, sub, start-pos, end-pos, flags): occurrences that begin between
// the two positions (a match may run past end-pos); flags bit 0 exact case.
template <class C>
void strcnt(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    const Text<C> s = env.text(args[1]), sub = env.text(args[2]);
    if (s.empty() || sub.empty()) {
        cell_set_int(st, result, 0);
        return;
    }
    const int64_t n = static_cast<int64_t>(s.chars());
    auto resolve = [n](int64_t v) { return v == 0 ? 1 : v == -1 ? n : v; };
    int64_t from = resolve(args[3].i), to = resolve(args[4].i);
    if (from < 1 || from > n) {
        st->err = 1734;
        return;
    }
    if (to < 1 || to > n) {
        st->err = 1735;
        return;
    }
    if (from > to) std::swap(from, to);
    const bool nocase = (args[5].i & 1) == 0;
    int32_t count = 0;
    size_t off = s.skip(0, static_cast<uint64_t>(from - 1));
    for (int64_t p = from; p <= to && off < s.len;) {
        if (off + sub.len <= s.len && env.same(s.p + off, sub.p, sub.len, nocase)) {
            ++count;
            p += static_cast<int64_t>(s.chars(off, off + sub.len));
            off += sub.len;
        } else {
            off = s.next(off);
            ++p;
        }
    }
    cell_set_int(st, result, count);
}

}  // namespace

void fn_strindex(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { index_call<decltype(unit)>(st, result, args, false); });
}

void fn_strindexnc(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { index_call<decltype(unit)>(st, result, args, true); });
}

void fn_strscan(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) {
        using C = decltype(unit);
        Env<C> env(st);
        cell_set_int(st, result, static_cast<int32_t>(strscan(env, env.text(args[1]), env.text(args[2]), args[3].i,
                                                              args[4].i != 0)));
    });
}

void fn_strcnt(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { strcnt<decltype(unit)>(st, result, args); });
}
