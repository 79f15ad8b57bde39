// StrSub (a substring by character position) and StrReplace (every
// occurrence of a text replaced, left to right, without overlap).
#include "library/strings/strings.h"

using namespace strings;

namespace {

template <class C>
void strsub(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    const Text<C> s = env.text(args[1]);
    const int64_t start = args[2].i;
    const int64_t n = static_cast<int64_t>(s.chars());
    int64_t length = args[3].i;
    if (length == -1) length = n - start + 1;   // to the end
    const int64_t count = std::min(n - start + 1, length);
    if (start < 1 || count <= 0) {
        result_empty<C>(st, result);
        return;
    }
    const size_t from = s.skip(0, static_cast<uint64_t>(start - 1));
    const size_t to = s.skip(from, static_cast<uint64_t>(count));
    result_copy(st, result, s.p + from, to - from);
}

// Unit offset of the next occurrence of `old` at or after `from` that starts
// on a character boundary, or s.len.
template <class C>
size_t find_next(const Text<C>& s, const Text<C>& old, size_t from) {
    if (!s.lead) {
        const size_t at = s.view().find(old.view(), from);
        return at == std::basic_string_view<C>::npos ? s.len : at;
    }
    for (size_t i = from; i + old.len <= s.len; i = s.next(i))
        if (memcmp(s.p + i, old.p, old.len * sizeof(C)) == 0) return i;
    return s.len;
}

template <class C>
void strreplace(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    const Text<C> s = env.text(args[1]), old = env.text(args[2]), rep = env.text(args[3]);
    if (s.empty() || old.empty()) {
        result_copy(st, result, s.p, s.len);
        return;
    }
    uint64_t count = 0;   // sized first: the result is allocated once
    for (size_t i = find_next(s, old, 0); i < s.len; i = find_next(s, old, i + old.len)) ++count;
    const uint64_t units = s.len - count * old.len + count * rep.len;
    C* out = result_alloc<C>(st, result, units);
    if (!out) return;
    size_t done = 0;
    for (size_t i = find_next(s, old, 0); i < s.len; i = find_next(s, old, i + old.len)) {
        memcpy(out, s.p + done, (i - done) * sizeof(C));
        out += i - done;
        memcpy(out, rep.p, rep.len * sizeof(C));
        out += rep.len;
        done = i + old.len;
    }
    memcpy(out, s.p + done, (s.len - done) * sizeof(C));
}

}  // namespace

void fn_strsub(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { strsub<decltype(unit)>(st, result, args); });
}

void fn_strreplace(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { strreplace<decltype(unit)>(st, result, args); });
}
