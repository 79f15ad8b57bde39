// The wildcard matcher's table of patterns: the same answers in the ANSI and
// the wide entry, double-byte characters counted once, and the state entry
// following the state's code page.
#include "fixture.h"
#include "library/strings/wildcard.h"
#include <string>

namespace {

struct Case {
    const char* text;
    const char* pattern;
    size_t      length;   // characters covered from the start, 0 no match
};

// A `?` clears the floating flag of a `*` before it, so "*?c" needs the c
// right after the first character.
const Case kCases[] = {
    {"abc", "abc", 3},    {"abc", "ab", 2},       {"abc", "abcd", 0},   {"ABC", "abc", 3},
    {"abc", "b", 0},      {"abc", "?", 1},        {"abc", "???", 3},    {"abc", "????", 0},
    {"abc", "*", 3},      {"abc", "**", 3},       {"abc", "a*", 3},     {"abc", "*c", 3},
    {"abxb", "a*b", 2},   {"abxb", "a*x", 3},     {"abxb", "*b", 2},    {"abxb", "a*b*", 4},
    {"abc", "abc*", 3},   {"abc", "abc**", 3},    {"abc", "abc?", 0},   {"ab", "a?*", 2},
    {"aXbYb!", "*b!", 6}, {"abXbY!", "*b?!", 0},  {"a.b.log", "*.log", 7}, {"x.log.1", "*.log", 5},
    {"abc", "*?", 1},     {"abc", "*?c", 0},      {"abc", "?*?", 2},    {"abc", "*z", 0},
    {"", "*", 0},         {"abc", "", 0},         {"", "", 0},          {"a*b", "a*b", 3},
};

std::wstring widen(const char* s) { return std::wstring(s, s + strlen(s)); }

uint8_t g_upper[256];
const uint8_t* ascii_upper() {
    for (int b = 0; b < 256; ++b) g_upper[b] = static_cast<uint8_t>(b >= 'a' && b <= 'z' ? b - 32 : b);
    return g_upper;
}

TEST(Wildcard, PatternTable) {
    const uint8_t* upper = ascii_upper();
    for (const Case& c : kCases) {
        EXPECT_EQ(wild_match(c.text, strlen(c.text), c.pattern, strlen(c.pattern), nullptr, upper), c.length)
            << "ANSI '" << c.text << "' '" << c.pattern << "'";
        const std::wstring t = widen(c.text), p = widen(c.pattern);
        EXPECT_EQ(wild_match(t.c_str(), t.size(), p.c_str(), p.size()), c.length)
            << "wide '" << c.text << "' '" << c.pattern << "'";
    }
}

TEST(Wildcard, DoubleByteCharactersCountOnce) {
    uint8_t lead[256] = {};
    for (int b = 0x81; b <= 0x9F; ++b) lead[b] = 1;
    const uint8_t* upper = ascii_upper();
    const char text[] = "\x82\xA0x\x83\x5Cy";   // two double-byte characters, 4 in all
    const size_t n = sizeof text - 1;
    auto m = [&](const char* pat) { return wild_match(text, n, pat, strlen(pat), lead, upper); };
    EXPECT_EQ(m("?x"), 2u);
    EXPECT_EQ(m("??"), 2u);
    EXPECT_EQ(m("*"), 4u);
    EXPECT_EQ(m("*y"), 4u);
    EXPECT_EQ(m("?X?Y"), 4u);
    EXPECT_EQ(m("*\\"), 0u);       // the trail byte 0x5C is no backslash
    EXPECT_EQ(m("*\x83\x5C"), 3u);
    // Without the lead table the same bytes are six single characters.
    EXPECT_EQ(wild_match(text, n, "*", 1, nullptr, upper), 6u);
}

class WildcardState : public StateFixture {};

TEST_F(WildcardState, EntriesFollowTheCodePage) {
    st->codePage = 932;
    EXPECT_EQ(wild_match_ansi(st, "\x82\xA0xyz", "?X*"), 4u);
    st->codePage = 1252;
    EXPECT_EQ(wild_match_ansi(st, "\x82\xA0xyz", "?X*"), 0u);
    EXPECT_EQ(wild_match_ansi(st, "\x82\xA0xyz", "??X*"), 5u);
    EXPECT_EQ(wild_match_wide(L"\x00E9t\x00E9", L"\x00C9T*"), 3u);
}

}  // namespace
