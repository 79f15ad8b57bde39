// The keyword table's invariants (order, codes, classes, argument counts and
// type words, constants), the first-letter index and its self-check, and
// lookup of every record by its own name.
#include "fixture.h"
#include "lexer_internal.h"
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const KeywordRec* Find(const char* name) {
    for (uint32_t i = 0; i < NKEYTOKENS; i++)
        if (!strcmp(g_keywords[i].name, name)) return &g_keywords[i];
    return nullptr;
}

uint32_t IndexOf(const char* name) {
    const KeywordRec* r = Find(name);
    return r ? static_cast<uint32_t>(r - g_keywords) : NOKEYWORD;
}

bool IsReserved(const KeywordRec& r) { return strchr(r.name, '~') && r.cls == KC_FUNCTION && r.nameLen > 1; }

TEST(KeywordTable, SortedByNameInByteOrderWithConsistentFields) {
    ASSERT_EQ(NKEYTOKENS, KW_COUNT);
    for (uint32_t i = 0; i < NKEYTOKENS; i++) {
        const KeywordRec& r = g_keywords[i];
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.nameLen, strlen(r.name));
        EXPECT_GE(r.nameLen, 1);
        EXPECT_LE(r.nameLen, 33);
        for (const char* p = r.name; *p; p++) EXPECT_FALSE(*p >= 'A' && *p <= 'Z');
        if (i > 0) EXPECT_LT(strcmp(g_keywords[i - 1].name, r.name), 0);
        bool swapped = !strcmp(r.name, "@dcgetchecked") || !strcmp(r.name, "@dcgroupdot");
        if (!swapped) EXPECT_EQ(r.code, i);
    }
    EXPECT_EQ(Find("@dcgetchecked")->code, IndexOf("@dcgroupdot"));
    EXPECT_EQ(Find("@dcgroupdot")->code, IndexOf("@dcgetchecked"));
}

TEST(KeywordTable, FixedIdsAndFamilyBoundaries) {
    const std::pair<const char*, uint32_t> fixed[] = {
        {"?oleobject", 34}, {"call", 350},     {"chrunicodetostring", 361}, {"clipappend", 362},
        {"for", 504},       {"foreach", 505},  {"ignoreinput", 517},        {"inidelete", 518},
        {"strcat", 686},    {"switch", 715},   {"while", 750},              {"yields", 801},
    };
    for (const auto& [name, id] : fixed) EXPECT_EQ(IndexOf(name), id) << name;
    // The names in keyword_ids.h agree with the table.
    EXPECT_STREQ(g_keywords[KW_STRSUB].name, "strsub");
    EXPECT_STREQ(g_keywords[KW_Q_MAKEPOINTER].name, "?makepointer");
    EXPECT_STREQ(g_keywords[KW_AT_CRLF].name, "@crlf");
    EXPECT_STREQ(g_keywords[KW_OP_SHL_ASSIGN].name, "<<=");
    EXPECT_STREQ(g_keywords[KW_MOD_ASSIGN].name, "mod=");
    EXPECT_STREQ(g_keywords[KW_OP_NE2].name, "<>");
    EXPECT_STREQ(g_keywords[KW_ENDWHILE].name, "endwhile");
}

TEST(KeywordTable, ClassMembership) {
    std::map<uint32_t, int> count;
    for (uint32_t i = 0; i < NKEYTOKENS; i++)
        if (!IsReserved(g_keywords[i])) count[g_keywords[i].cls]++;
    EXPECT_EQ(count[KC_OPERATOR], 29);
    EXPECT_EQ(count[KC_UNARYOP], 6);
    EXPECT_EQ(count[KC_CONSTANT], 210);
    EXPECT_EQ(count[KC_COMMAND], 5);
    EXPECT_EQ(count[KC_COMPARE], 7);
    EXPECT_EQ(count[KC_VARNAME], 9);
    EXPECT_EQ(count[KC_STRUCT], 22);
}

// At most 16 arguments (255 required: any number), each with a valid type code.
TEST(KeywordTable, ArgumentCountsAndTypeWords) {
    const std::set<unsigned> valid = {0, 1, 2, 3, 5, 6, 7, 8, 9, 10, 15};
    for (uint32_t i = 0; i < NKEYTOKENS; i++) {
        const KeywordRec& r = g_keywords[i];
        SCOPED_TRACE(r.name);
        if (r.cls != KC_FUNCTION && r.cls != KC_COMMAND && r.cls != KC_VARNAME) {
            EXPECT_EQ(r.argTypes, 0u);
            continue;
        }
        uint32_t req = r.value & 0xFF, n = req == 255 ? 16 : req + ((r.value >> 8) & 0xFF);
        EXPECT_LE(n, 16u);
        for (uint32_t k = 0; k < 16; k++) {
            unsigned code = static_cast<unsigned>((r.argTypes >> (4 * k)) & 0xF);
            if (k < n) EXPECT_TRUE(valid.count(code)) << "argument " << k + 1 << " code " << code;
            else EXPECT_EQ(code, 0u) << "argument " << k + 1 << " beyond the count";
        }
    }
}

TEST(KeywordTable, Constants) {
    const char* floats[] = {"@pi", "@e", "@deg2rad", "@rad2deg", "@planckjoules", "@planckergs", "@gftsec",
                            "@gmtsec", "@amc", "@avogadro", "@boltzmann", "@electric", "@eulers", "@faraday",
                            "@goldenratio", "@gravitation", "@lightmtps", "@magfield", "@parsec", "@lightmps"};
    for (uint32_t n = 0; n < 20; n++) EXPECT_EQ(Find(floats[n])->value, FLOATCONST + n) << floats[n];
    const char* strings[] = {"@crlf", "@tab", "@cr", "@lf"};
    for (uint32_t n = 0; n < 4; n++) EXPECT_EQ(Find(strings[n])->value, STRINGCONST + n) << strings[n];
    int sentinels = 0;
    for (uint32_t i = 0; i < NKEYTOKENS; i++) {
        const KeywordRec& r = g_keywords[i];
        if (r.cls != KC_CONSTANT) continue;
        EXPECT_EQ(r.name[0], '@');
        if ((r.value & ~0x1Fu) == FLOATCONST || (r.value & ~0xFFFu) == STRINGCONST) sentinels++;
    }
    EXPECT_EQ(sentinels, 24);
    EXPECT_EQ(static_cast<int32_t>(Find("@hidden")->value), -1);
    EXPECT_EQ(static_cast<int32_t>(Find("@regcurrent")->value), -2147483647);
    EXPECT_EQ(Find("@regclasses")->value, 0x80000000u);
}

TEST(QuickLook, BoundsTheRecordsOfEachFirstByte) {
    const lex::QuickLook& q = lex::quicklook();
    for (int c = 0; c < 128; c++) {
        EXPECT_EQ(q.a[c], q.b[c]);
        uint32_t lo = q.a[c], hi = c < 127 ? q.a[c + 1] : NKEYTOKENS;
        ASSERT_LE(lo, hi);
        for (uint32_t i = lo; i < hi; i++) EXPECT_EQ(static_cast<unsigned char>(g_keywords[i].name[0]), c);
    }
    EXPECT_EQ(q.a[0], 0u);
    EXPECT_EQ(q.a['a'], KW_ABOUT);
    EXPECT_EQ(q.a['b'], KW_BEEP);
    EXPECT_EQ(q.a[127], NKEYTOKENS);
    EXPECT_EQ(q.a['~'], KW_OP_TILDE);
}

std::vector<std::string> g_reports;
void Capture(const char* text, const char* title) { g_reports.push_back(std::string(title) + ":" + text); }

KeywordRec Rec(uint32_t code, const char* name) {
    KeywordRec r{};
    r.code = code;
    r.nameLen = static_cast<uint16_t>(strlen(name));
    strcpy(r.name, name);
    return r;
}

TEST(QuickLook, SelfCheckReportsAndContinues) {
    const KeywordRec bad[] = {Rec(0, "alpha"), Rec(1, "apple"), Rec(7, "beta"), Rec(3, "abc"), Rec(9, "cat")};
    lex::QuickLook q{};
    g_reports.clear();
    lex::quicklook_build(bad, 5, &q, Capture);
    EXPECT_EQ(g_reports, (std::vector<std::string>{"FNP983:beta", "FSOP782:abc", "FNP983:cat"}));
    EXPECT_EQ(q.a['a'], 0u);
    EXPECT_EQ(q.a['b'], 2u);
    EXPECT_EQ(q.a['c'], 4u);
    EXPECT_EQ(q.a['d'], 5u);
    EXPECT_EQ(q.b['d'], 5u);
}

class Lookup : public StateFixture {};

TEST_F(Lookup, EveryRecordFindsItself) {
    for (uint32_t i = 0; i < NKEYTOKENS; i++) {
        const KeywordRec& r = g_keywords[i];
        if (IsReserved(r)) continue;
        std::string text = r.name;
        bool word = isalpha(static_cast<unsigned char>(text[0])) || text[0] == '@' || text[0] == '_' || text[0] == '?';
        if (text[0] == '?') continue;   // internal: never written in scripts
        text += " ";
        int len = -1;
        uint32_t code = kw_lookup(st, text.c_str(), word, &len);
        EXPECT_EQ(code, i) << r.name;
        EXPECT_EQ(len, r.nameLen) << r.name;
        // Upper case finds it too.
        for (char& ch : text) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
        EXPECT_EQ(kw_lookup(st, text.c_str(), word, &len), i) << r.name;
    }
}

TEST_F(Lookup, NameModeRules) {
    int len;
    EXPECT_EQ(kw_lookup(st, "strsubx", true, &len), NOKEYWORD);
    EXPECT_EQ(kw_lookup(st, "strsu", true, &len), NOKEYWORD);
    EXPECT_EQ(kw_lookup(st, "mod=3", true, &len), KW_MOD_ASSIGN);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(kw_lookup(st, "mod =3", true, &len), KW_MOD);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(kw_lookup(st, "Excel.Application", true, &len), KW_Q_OLEOBJECT);
    EXPECT_EQ(len, 5);
    // Reserved records are never matched.
    EXPECT_EQ(kw_lookup(st, "while~1", true, &len), KW_WHILE);
    EXPECT_EQ(len, 5);
    EXPECT_EQ(kw_lookup(st, "~1", false, &len), KW_OP_TILDE);
    // Letters from 128 up never reach the built-in table.
    EXPECT_EQ(kw_lookup(st, "\xE9t\xE9", true, &len), NOKEYWORD);
}

TEST_F(Lookup, OperatorModeTakesTheLongestRecord) {
    int len;
    EXPECT_EQ(kw_lookup(st, "<<=1", false, &len), KW_OP_SHL_ASSIGN);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(kw_lookup(st, "<<1", false, &len), KW_OP_SHL);
    EXPECT_EQ(kw_lookup(st, "<1", false, &len), KW_OP_LT);
    EXPECT_EQ(kw_lookup(st, "|||", false, &len), KW_OP_OROR);
    EXPECT_EQ(kw_lookup(st, "\"x\"", false, &len), NOKEYWORD);
    EXPECT_EQ(len, 0);
}

TEST_F(Lookup, RecordsAndNamesOfOtherRanges) {
    EXPECT_EQ(kw_record(st, KW_STRSUB), &g_keywords[KW_STRSUB]);
    EXPECT_STREQ(kw_name(st, KW_STRSUB), "strsub");
    EXPECT_EQ(kw_record(st, NKEYTOKENS), nullptr);
    EXPECT_EQ(kw_record(st, NOKEYWORD), nullptr);
    EXPECT_STREQ(kw_name(st, NOKEYWORD), "");
    EXPECT_EQ(kw_record(st, UDFSTART), nullptr);   // no functions defined
    EXPECT_EQ(kw_record(st, PARENTSTART), nullptr); // no host table
    EXPECT_EQ(kw_record(st, ADDONSTART), nullptr);
}

}  // namespace
