// Shared pieces of the string family: the character rules of the ANSI form,
// a view of one argument's text, the result allocation and the work buffers.
//
// Every member has one implementation written once over the code unit type:
// `char` for the ANSI form, `wchar_t` for the wide form. The dispatcher has
// already converted the string arguments to the form of the call (`wide`).
// In the ANSI form a character is one byte, or two when the first is a lead
// byte of the double-byte code page in use (the state's code page, or the
// system's ANSI code page when it is 0); Text::width is the one place that
// knows it. In the wide form a character is one UTF-16 unit.
#pragma once
#include "dispatch.h"
#include "errors.h"
#include "eval.h"
#include "value.h"
#include "textscan.h"
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <algorithm>
#include <string_view>
#include <type_traits>

namespace strings {

// The ANSI rules of the state's code page (built on first use, rebuilt when
// the code page changes).
struct AnsiRules {
    const uint8_t* lead;    // non-zero entry: lead byte; nullptr when the code page has none
    const uint8_t* upper;   // upper-case byte of each byte (a lone lead byte stays itself)
    const uint8_t* lower;
    UINT           cp;      // the code page itself (never 0)
};
AnsiRules ansi_rules(State* st);
// The code page ANSI text is in: the state's, or the system's ANSI code page.
UINT effective_cp(const State* st);

// The comparison of StrCmp and StrICmp: the user locale's collation order,
// not code order; -1, 0 or 1. ANSI text of a code page other than the
// system's is compared through its wide form (1588 when that cannot be made).
int locale_compare(State* st, const char* a, const char* b, bool nocase);
int locale_compare(State* st, const wchar_t* a, const wchar_t* b, bool nocase);

// Upper and lower case of one code unit.
inline char unit_upper(const AnsiRules& r, char c) { return static_cast<char>(r.upper[static_cast<uint8_t>(c)]); }
inline char unit_lower(const AnsiRules& r, char c) { return static_cast<char>(r.lower[static_cast<uint8_t>(c)]); }
wchar_t wide_upper(wchar_t c);
inline wchar_t unit_upper(const AnsiRules&, wchar_t c) {
    if (c < 128) return c >= 'a' && c <= 'z' ? static_cast<wchar_t>(c - 32) : c;
    return wide_upper(c);
}

// Case conversion of a whole text in place (StrUpper, StrLower): the
// platform's case mapping, in the ANSI form through the code page in use; a
// character whose other case has no spelling there stays as it is.
void convert_case(const AnsiRules& r, char* s, size_t len, bool upper);
void convert_case(const AnsiRules& r, wchar_t* s, size_t len, bool upper);

// One string: its code units and how they group into characters.
template <class C>
struct Text {
    const C*       p = nullptr;
    size_t         len = 0;       // code units
    const uint8_t* lead = nullptr; // set only for ANSI text that holds a lead byte

    Text() = default;
    Text(const C* s, size_t n, const uint8_t* leadTable) : p(s), len(n) {
        if constexpr (sizeof(C) == 1) {
            if (leadTable)
                for (size_t i = 0; i < n; ++i)
                    if (leadTable[static_cast<uint8_t>(s[i])]) {
                        lead = leadTable;
                        break;
                    }
        }
    }
    bool empty() const { return len == 0; }
    // Units of the character at unit offset i: the next-character rule
    // (a lead byte at the very end stands alone).
    size_t width(size_t i) const {
        if constexpr (sizeof(C) == 1)
            if (lead && lead[static_cast<uint8_t>(p[i])] && i + 1 < len) return 2;
        return 1;
    }
    size_t next(size_t i) const { return i + width(i); }
    // Characters in units [from, to).
    size_t chars(size_t from, size_t to) const {
        if (!lead) return to - from;
        size_t n = 0;
        for (size_t i = from; i < to; i = next(i)) ++n;
        return n;
    }
    size_t chars() const { return chars(0, len); }
    // Unit offset `n` characters after `from` (at most len).
    size_t skip(size_t from, uint64_t n) const {
        if (!lead) return n >= len - from ? len : from + static_cast<size_t>(n);
        size_t i = from;
        for (; n && i < len; --n) i = next(i);
        return i;
    }
    std::basic_string_view<C> view() const { return {p, len}; }
};

// What one call of a member needs: the state, the ANSI rules (for the ANSI
// form) and the text of its arguments in the call's form.
template <class C>
struct Env {
    State*    st;
    AnsiRules r{};

    explicit Env(State* s) : st(s) {
        if constexpr (sizeof(C) == 1) r = ansi_rules(s);
    }
    Text<C> text(const Cell& c) const {
        if constexpr (sizeof(C) == 1) {
            const char* s = cell_str(st, &c);
            return Text<C>(s, text_len(s), r.lead);
        } else {
            const wchar_t* s = cell_wstr(st, &c);
            return Text<C>(s, text_len(s), nullptr);
        }
    }
    Text<C> text(const C* s, size_t n) const { return Text<C>(s, n, sizeof(C) == 1 ? r.lead : nullptr); }
    C upper(C c) const { return unit_upper(r, c); }
    // Equal code units at a and b over n units (case folded when nocase).
    bool same(const C* a, const C* b, size_t n, bool nocase) const {
        if (!nocase) return memcmp(a, b, n * sizeof(C)) == 0;
        for (size_t i = 0; i < n; ++i)
            if (a[i] != b[i] && upper(a[i]) != upper(b[i])) return false;
        return true;
    }
};

// A result of `units` code units in the string heap, terminated, set into
// `result` as STRING or UNICODE; the caller writes the text. nullptr with
// 3096 when the heap cannot hold it.
char*    result_alloc(State* st, Cell* result, uint64_t units, char);
wchar_t* result_alloc(State* st, Cell* result, uint64_t units, wchar_t);
template <class C>
C* result_alloc(State* st, Cell* result, uint64_t units) { return result_alloc(st, result, units, C{}); }
// A copy of units [from, to) of a text as the result.
template <class C>
bool result_copy(State* st, Cell* result, const C* p, size_t n) {
    C* out = result_alloc<C>(st, result, n);
    if (!out) return false;
    if (n) memcpy(out, p, n * sizeof(C));
    return true;
}
// The empty string in the call's form.
template <class C>
bool result_empty(State* st, Cell* result) { return result_alloc<C>(st, result, 0) != nullptr; }
// Whether `units` code units could ever fit in the string heap (a request
// larger than the heap's whole reserve fails at once, without trying, and
// none may reach 2^40 units).
bool fits_heap(const State* st, uint64_t units, size_t unitSize);

// A work buffer from the global heap (movable, locked while it lives).
// alloc() fails with 1588 "Unable to allocate or lock memory".
class WorkBuffer {
public:
    WorkBuffer() = default;
    ~WorkBuffer();
    WorkBuffer(const WorkBuffer&) = delete;
    WorkBuffer& operator=(const WorkBuffer&) = delete;
    bool alloc(State* st, uint64_t bytes);
    template <class T> T* get() const { return static_cast<T*>(p_); }
private:
    HGLOBAL h_ = nullptr;
    void*   p_ = nullptr;
};

// Characters of one string taken as a set (delimiters, trim sets, StrClean's
// list). A double-byte character of the ANSI form matches only the same two
// bytes. With `fold` the upper-case forms are compared.
template <class C>
class CharSet {
public:
    CharSet(const Env<C>& env, const Text<C>& set, bool fold) : env_(env), set_(set), fold_(fold) {
        for (size_t i = 0; i < set.len; i = set.next(i)) {
            if (set.width(i) != 1) continue;
            const auto u = static_cast<std::make_unsigned_t<C>>(key(set.p[i]));
            if (u < 256) bits_[u >> 6] |= uint64_t{1} << (u & 63);
            else wideOutside_ = true;
        }
    }
    // Whether the character of `w` units at p belongs to the set.
    bool contains(const C* p, size_t w) const {
        if (w == 1) {
            const auto u = static_cast<std::make_unsigned_t<C>>(key(*p));
            if (u < 256) return (bits_[u >> 6] >> (u & 63)) & 1;
            if (!wideOutside_) return false;
        }
        for (size_t i = 0; i < set_.len; i = set_.next(i))
            if (set_.width(i) == w && env_.same(set_.p + i, p, w, fold_)) return true;
        return false;
    }
private:
    C key(C c) const { return fold_ ? env_.upper(c) : c; }
    const Env<C>& env_;
    Text<C>       set_;
    bool          fold_;
    bool          wideOutside_ = false;
    uint64_t      bits_[4] = {};
};

template <class C>
constexpr C kSpace[2] = {C(' '), C(0)};

// A pad or filler text repeated from its first character; an empty pad is one space.
template <class C>
struct Cycle {
    Text<C>  pad;
    uint64_t chars;

    Cycle(const Env<C>& env, const Text<C>& p) : pad(p.empty() ? env.text(kSpace<C>, 1) : p), chars(pad.chars()) {}
    // Units of the first k characters of the repetition.
    uint64_t units(uint64_t k) const { return k / chars * pad.len + pad.skip(0, k % chars); }
    C* write(C* out, uint64_t k) const {
        out = repeat(out, k / chars);
        const size_t part = pad.skip(0, k % chars);
        memcpy(out, pad.p, part * sizeof(C));
        return out + part;
    }
    // Exactly `units` units of the repetition; a double-byte character that
    // would cross the end is replaced by a space.
    C* write_units(C* out, uint64_t units) const {
        out = repeat(out, units / pad.len);
        const size_t left = static_cast<size_t>(units % pad.len);
        size_t i = 0;
        for (; i + pad.width(i) <= left; i = pad.next(i)) *out++ = pad.p[i];
        if (i < left) *out++ = C(' ');
        return out;
    }
    // `copies` whole copies of the pad, doubling what is already written.
    C* repeat(C* out, uint64_t copies) const {
        if (!copies) return out;
        const uint64_t total = copies * pad.len;
        memcpy(out, pad.p, pad.len * sizeof(C));
        for (uint64_t done = pad.len; done < total;) {
            const uint64_t n = std::min(done, total - done);
            memcpy(out + done, out, n * sizeof(C));
            done += n;
        }
        return out + total;
    }
};

// Runs `f` with a code unit of the call's form: f(char{}) or f(wchar_t{}).
template <class F>
void both_forms(bool wide, F&& f) {
    if (wide) f(wchar_t{});
    else f(char{});
}

// Converts an argument to the wide form in place (members that exist only in
// the wide form); false with 3820 (or 3096).
bool arg_wide(State* st, Cell* c);
// ... and to the ANSI form (3056 or 3096).
bool arg_ansi(State* st, Cell* c);

}  // namespace strings

// StrCat parses its own argument list (see strcat.cpp).
bool strcat_parse(State* st, Cell* result);
