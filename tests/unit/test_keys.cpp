// The key-name table, the key-string reader and the window-title rules: pure
// tables, checked without sending a key or looking at a window.
#include <gtest/gtest.h>
#include "library/keys/keynames.h"
#include "library/keys/keystring.h"
#include "library/windows/win_internal.h"
#include <string>

namespace {

using namespace keys;

// One step as text: modifier letters (S C A for Shift Ctrl Alt, lower case
// for the left keys, W for the left Windows key), then #vk or 'c', then xN
// when the count is not 1, an "e" for a forced extended key.
std::string describe(const KeyStep& s) {
    std::string out;
    const struct { uint16_t mod; char c; } mods[] = {{M_SHIFT, 'S'}, {M_LSHIFT, 's'}, {M_CTRL, 'C'},
                                                      {M_LCTRL, 'c'}, {M_ALT, 'A'},   {M_LALT, 'a'},
                                                      {M_LWIN, 'W'}};
    for (const auto& m : mods)
        if (s.mods & m.mod) out += m.c;
    out += s.vk ? "#" + std::to_string(s.vk) : std::string("'") + static_cast<char>(s.ch) + "'";
    if (s.count != 1) out += "x" + std::to_string(s.count);
    if (s.extended) out += "e";
    return out;
}

std::string read_all(const wchar_t* text) {
    std::string out;
    KeyStep s;
    for (;;) {
        const Parse p = next_step(&text, &s);
        if (p == Parse::End) return out + "END";
        if (p == Parse::Stop) return out + "STOP";
        out += describe(s) + " ";
    }
}

struct ReadCase {
    const wchar_t* text;
    const char*    steps;
};

const ReadCase kReads[] = {
    {L"ab", "'a' 'b' END"},
    {L"+a^b!c", "S'a' C'b' A'c' END"},
    {L"^+{F5}", "SC#116 END"},
    {L"~", "#13 END"},
    {L"{+}{^}{!}{~}{{}{}}{ }", "'+' '^' '!' '~' '{' '}' ' ' END"},
    {L"{ENTER 3}{enter 0}{Tab -2}", "#13x3 #13x0 #9x-2 END"},
    {L"{a 3}{} 2}{  4}", "'a'x3 '}'x2 ' 'x4 END"},
    {L"{ESC  2 }", "#27x2 END"},
    {L"{*LSHIFT}{LEFT}x", "s#37 'x' END"},
    {L"^{*LALT}{*LWIN}d", "CaW'd' END"},
    {L"{NUMPAD~}{NUMPAD7}", "#13e #103 END"},
    {L"a\r\nb\rc\nd", "'a' #13 'b' #13 'c' #13 'd' END"},
    {L"ab+^", "'a' 'b' END"},
    {L"a{NOSUCH}b", "'a' STOP"},
    {L"a{F1 x}b", "'a' STOP"},
    {L"a{F1", "'a' STOP"},
    {L"{}", "STOP"},
    {L"{", "STOP"},
    {L"", "END"},
};

TEST(KeyString, Steps) {
    for (const ReadCase& c : kReads) EXPECT_EQ(read_all(c.text), c.steps) << std::string(c.text, c.text + wcslen(c.text));
}

TEST(KeyString, StopLeavesThePositionAtTheBrace) {
    const wchar_t* text = L"a{NOSUCH}b";
    KeyStep s;
    ASSERT_EQ(next_step(&text, &s), Parse::Step);
    ASSERT_EQ(next_step(&text, &s), Parse::Stop);
    EXPECT_STREQ(text, L"{NOSUCH}b");
}

TEST(KeyNames, Table) {
    EXPECT_EQ(kKeyNameCount, 81u);
    EXPECT_EQ(key_name_find("backspace", 9)->vk, 8);
    EXPECT_EQ(key_name_find(L"Bs", 2)->vk, 8);
    EXPECT_EQ(key_name_find("F16", 3)->vk, 127);
    EXPECT_EQ(key_name_find("NUMPAD/", 7)->vk, 111);
    EXPECT_EQ(key_name_find("*RWIN", 5)->flags & KN_HOLD, KN_HOLD);
    EXPECT_EQ(key_name_find("F17", 3), nullptr);
    EXPECT_EQ(key_name_find("ENTERX", 5)->vk, 13);   // only the given length counts
    EXPECT_STREQ(key_name_of(27)->name, "ESCAPE");
    EXPECT_STREQ(key_name_of(164)->name, "LALT");
    EXPECT_EQ(key_name_of(255), nullptr);
}

struct TitleCase {
    const wchar_t* pattern;
    bool           matches;   // against "Untitled - Editor"
};

const TitleCase kTitles[] = {
    {L"Untitled", true},           {L"~Editor", true},   {L"~Editor~", true},  {L"Untitled - Editor~", true},
    {L"untitled", false},          {L"Untitled~", false}, {L"~editor", false}, {L"~Untitled~", false},
    {L"Untitled - Editor!", false}, {L"~", false},        {L"~~", true},        {L"~d - E", true},
    {L"", true},
};

TEST(WindowTitles, Rules) {
    for (const TitleCase& c : kTitles)
        EXPECT_EQ(win::title_matches(c.pattern, L"Untitled - Editor"), c.matches)
            << std::string(c.pattern, c.pattern + wcslen(c.pattern));
}

TEST(WindowIds, FormAndDigits) {
    HWND h = reinterpret_cast<HWND>(static_cast<intptr_t>(0x0001005E));
    EXPECT_EQ(win::format_id(h), L"#WIN$ID#0001005E");
    HWND back = nullptr;
    ASSERT_TRUE(win::parse_id(L"#WIN$ID#0001005e", &back));
    EXPECT_EQ(back, h);
    ASSERT_TRUE(win::parse_id(L"#WIN$ID#FFFFFFFF", &back));
    EXPECT_EQ(back, reinterpret_cast<HWND>(static_cast<intptr_t>(-1)));
    ASSERT_TRUE(win::parse_id(L"#WIN$ID#0001005G", &back));   // an id that names no window
    EXPECT_EQ(back, nullptr);
    EXPECT_FALSE(win::parse_id(L"#WIN$ID#0001005", &back));   // 15 characters: a title
    EXPECT_FALSE(win::parse_id(L"#win$id#0001005E", &back));
}

}  // namespace
