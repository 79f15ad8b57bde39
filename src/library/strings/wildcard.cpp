// The wildcard matcher (see wildcard.h), written once over the code unit type.
//
// The pattern is read left to right. `*` sets a floating flag. `?` takes one
// text character and clears it. A literal run (up to the next `*`, `?` or the
// end) must match at the current text position; when it does not and the
// flag is set, the text position moves on by one character and the run is
// tried again, otherwise the match fails. No earlier choice is ever revisited,
// so the cost is at most text length times run length.
#include "library/strings/wildcard.h"
#include "library/strings/strings.h"

namespace {

using strings::Text;

template <class C, class Upper>
size_t match(const Text<C>& text, const Text<C>& pat, Upper upper) {
    if (text.empty() || pat.empty()) return 0;
    size_t ti = 0, pi = 0, consumed = 0;
    bool floating = false;
    while (pi < pat.len) {
        const C c = pat.p[pi];
        if (c == '*') {
            floating = true;
            ++pi;
            continue;
        }
        if (ti >= text.len) {   // the text is used up: only `*` may be left
            for (; pi < pat.len; ++pi)
                if (pat.p[pi] != '*') return 0;
            return consumed;
        }
        if (c == '?') {
            ti = text.next(ti);
            ++consumed;
            floating = false;
            ++pi;
            continue;
        }
        size_t re = pi;
        while (re < pat.len && pat.p[re] != '*' && pat.p[re] != '?') re = pat.next(re);
        const size_t run = re - pi;
        for (;;) {
            if (ti + run > text.len) return 0;   // no room left for the run
            size_t k = 0;
            while (k < run && (text.p[ti + k] == pat.p[pi + k] || upper(text.p[ti + k]) == upper(pat.p[pi + k]))) ++k;
            if (k == run) break;
            if (!floating) return 0;
            ti = text.next(ti);
            ++consumed;
        }
        consumed += text.chars(ti, ti + run);
        ti += run;
        floating = false;
        pi = re;
    }
    return floating ? consumed + text.chars(ti, text.len) : consumed;
}

}  // namespace

size_t wild_match(const char* text, size_t textLen, const char* pattern, size_t patLen, const uint8_t* lead,
                  const uint8_t* upper) {
    return match(Text<char>(text, textLen, lead), Text<char>(pattern, patLen, lead),
                 [upper](char c) { return upper[static_cast<uint8_t>(c)]; });
}

size_t wild_match(const wchar_t* text, size_t textLen, const wchar_t* pattern, size_t patLen) {
    const strings::AnsiRules none{};
    return match(Text<wchar_t>(text, textLen, nullptr), Text<wchar_t>(pattern, patLen, nullptr),
                 [&none](wchar_t c) { return strings::unit_upper(none, c); });
}

size_t wild_match_ansi(State* st, const char* text, const char* pattern) {
    const strings::AnsiRules r = strings::ansi_rules(st);
    return wild_match(text, strlen(text), pattern, strlen(pattern), r.lead, r.upper);
}

size_t wild_match_wide(const wchar_t* text, const wchar_t* pattern) {
    return wild_match(text, wcslen(text), pattern, wcslen(pattern));
}
