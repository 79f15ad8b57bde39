// The tokenizer over a real state: token kinds and texts, number and string
// literal rules, variable slot creation, the unary "&" flag, putback, and
// keyword fallbacks to host and extender functions.
#include "fixture.h"
#include "tokenizer.h"
#include "loader.h"
#include "exec.h"
#include <string>
#include <vector>

namespace {

struct Tok {
    int kind;
    std::string text;
    uint32_t code;   // keyword tokens only, else NOKEYWORD
    bool operator==(const Tok&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Tok& t) {
    return o << "{" << t.kind << ", \"" << t.text << "\", " << t.code << "}";
}
Tok K(const char* text, uint32_t code) { return {TK_KEYWORD, text, code}; }
Tok V(const char* text) { return {TK_VARIABLE, text, NOKEYWORD}; }
Tok I(const char* text) { return {TK_INTEGER, text, NOKEYWORD}; }
Tok F(const char* text) { return {TK_FLOAT, text, NOKEYWORD}; }
Tok S(const char* text) { return {TK_STRING, text, NOKEYWORD}; }

class Tokenizer : public StateFixture {
protected:
    void Line(const char* text) {
        strncpy(st->line, text, LINE_BUF - 1);
        st->prog = st->line;
        st->err = 0;
    }
    int last = 0;
    Tok Next() {
        last = get_token(st);
        return {st->delimType, st->token, st->delimType == TK_KEYWORD ? st->tok : NOKEYWORD};
    }
    // All tokens up to the end of the line; stops at an error.
    std::vector<Tok> All(const char* text) {
        Line(text);
        std::vector<Tok> v;
        for (int guard = 0; guard < 100; guard++) {
            Tok t = Next();
            if (!last || t.kind == TK_EOL) break;
            v.push_back(t);
        }
        return v;
    }
    // The error number of the first failing token of a line (0 when none fails).
    int ErrorOf(const char* text) {
        All(text);
        return last ? 0 : st->err;
    }
};

TEST_F(Tokenizer, TokensOfLines) {
    using V_ = std::vector<Tok>;
    const std::pair<std::string, V_> cases[] = {
        // Operators take the longest match, also without blanks.
        {"a<<=b", {V("a"), K("<<=", KW_OP_SHL_ASSIGN), V("b")}},
        {"a<b", {V("a"), K("<", KW_OP_LT), V("b")}},
        {"a<>b<=c", {V("a"), K("<>", KW_OP_NE2), V("b"), K("<=", KW_OP_LE), V("c")}},
        {"x**2", {V("x"), K("**", KW_OP_POWER), I("2")}},
        {"p::q", {V("p"), K("::", KW_OP_COLONCOLON), V("q")}},
        {"x mod= 3", {V("x"), K("mod=", KW_MOD_ASSIGN), I("3")}},
        {"x MOD 3", {V("x"), K("MOD", KW_MOD), I("3")}},
        {"modx = 1", {V("modx"), K("=", KW_OP_ASSIGN), I("1")}},
        // Keywords are found in any case and keep their spelling; names are lower-cased.
        {"x = StrSub(Name, 1, 3)", {V("x"), K("=", KW_OP_ASSIGN), K("StrSub", KW_STRSUB), K("(", KW_OP_LPAREN),
                                    V("name"), K(",", KW_OP_COMMA), I("1"), K(",", KW_OP_COMMA), I("3"),
                                    K(")", KW_OP_RPAREN)}},
        {"If @TRUE Then", {K("If", KW_IF), K("@TRUE", KW_AT_TRUE), K("Then", KW_THEN)}},
        // Number literals; a letter that is not an exponent ends the number.
        {"123", {I("123")}}, {"1e5", {F("1e5")}}, {"1.5E-3", {F("1.5E-3")}}, {"2e+10", {F("2e+10")}},
        {".5", {F(".5")}}, {"5.", {F("5.")}}, {"5abc", {I("5"), V("abc")}},
        {"3-1", {I("3"), K("-", KW_OP_MINUS), I("1")}},
        // String literals: three quote kinds, doubled quotes; an unterminated
        // literal ends with the line.
        {"'it''s'", {S("it's")}}, {"\"say \"\"hi\"\"\" x", {S("say \"hi\""), V("x")}},
        {"`a'b\"c`", {S("a'b\"c")}}, {"''", {S("")}},
        {"x = \"abc; not a comment", {V("x"), K("=", KW_OP_ASSIGN), S("abc; not a comment")}},
        // Comments.
        {"   ; only a comment", {}}, {"x=1;comment", {V("x"), K("=", KW_OP_ASSIGN), I("1")}},
        // A dotted name is one object token, also after a keyword.
        {"obj.Method.Sub(1)", {K("obj.Method.Sub", KW_Q_OLEOBJECT), K("(", KW_OP_LPAREN), I("1"),
                               K(")", KW_OP_RPAREN)}},
        {"strsub.x", {K("strsub.x", KW_Q_OLEOBJECT)}},
        {std::string(30, 'v'), {V(std::string(30, 'v').c_str())}},
    };
    for (const auto& [text, tokens] : cases) {
        EXPECT_EQ(All(text.c_str()), tokens) << text;
        EXPECT_EQ(st->err, 0) << text;
    }
    Line("");
    EXPECT_EQ(Next().kind, TK_EOL);
    EXPECT_EQ(Next().kind, TK_EOL);   // stays at the end
    EXPECT_EQ(last, 1);
}

TEST_F(Tokenizer, ErrorsOfLines) {
    const std::pair<std::string, int> cases[] = {
        {"1ex", 3054}, {"1e", 3054},   {"1e+", 3054}, {"1.2.3", 3338},     {"1e5e3", 3339},
        {".", 3054},   {"x = . + 1", 3054}, {"x = \\", 3054}, {"#", 3054}, {std::string(31, 'v'), 3055},
    };
    const uint16_t used = st->varUsed;
    for (const auto& [text, err] : cases) EXPECT_EQ(ErrorOf(text.c_str()), err) << text;
    EXPECT_EQ(st->varUsed, used + 1);   // only "x": the long name made no slot
}

TEST_F(Tokenizer, MultilineStart) {
    Line("x = $\"first");
    Next();
    Next();
    Tok t = Next();
    EXPECT_EQ(t.kind, TK_MULTILINE);
    EXPECT_STREQ(st->prog, "first");
}

TEST_F(Tokenizer, NewVariablesGetUninitializedSlots) {
    uint16_t usedBefore = st->varUsed;
    EXPECT_EQ(All("Alpha + alpha + ALPHA"),
              (std::vector<Tok>{V("alpha"), K("+", KW_OP_PLUS), V("alpha"), K("+", KW_OP_PLUS), V("alpha")}));
    EXPECT_EQ(st->varUsed, usedBefore + 1);
    const Cell* c = VarCell("alpha");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->type, TW_UNINIT);
    EXPECT_EQ(c->i, -1);
    // An existing variable keeps its value.
    SetInt("beta", 7);
    All("beta");
    EXPECT_EQ(VarCell("beta")->type, TW_INT);
    EXPECT_EQ(VarCell("beta")->i, 7);
}

TEST_F(Tokenizer, SubscriptedObjectNeedsAnArrayOrPointer) {
    // x holds no array: x[1].y is a variable followed by a subscript.
    std::vector<Tok> v = All("x[1].y");
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v[0], V("x"));
    Cell a;
    cell_init(&a);
    ASSERT_NE(CreateMyArray(st, &a, 3, 0, 0, 0, 0, 0, 1), 0xFFFFFFFFu);
    uint16_t slot = var_create(st, "arr", TW_UNINIT);
    ASSERT_TRUE(var_assign(st, slot, &a));
    cell_release(st, &a, CM_BARE);
    v = All("arr[1].Name");
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v[0], K("arr", KW_Q_OLEOBJECT));
    v = All("arr[1] + 1");
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v[0], V("arr"));
}

// get_token answers 3 for a "&" that takes the address of the name after it.
TEST_F(Tokenizer, UnaryAmpersand) {
    const std::pair<const char*, int> cases[] = {
        {"x = &y", 3}, {"f(&z)", 3}, {"a & b", 1}, {"(1) & 2", 1}, {"@true & 2", 1}, {"a[1] & 2", 1},
        {"x = &&", 1},   // "&&" and "&=" are never unary
    };
    for (auto [text, want] : cases) {
        All(text);   // the names exist on the second reading
        Line(text);
        Tok t;
        do t = Next();
        while (t.kind != TK_EOL && t.code != KW_OP_AMP && t.code != KW_OP_ANDAND);
        EXPECT_EQ(last, want) << text;
        EXPECT_EQ(st->unaryAmp, want == 3 ? 1 : 0) << text;
        Next();
        EXPECT_EQ(st->unaryAmp, 0) << text;
    }
    // The name read right after a unary "&" is created as an INT holding -1.
    EXPECT_EQ(VarCell("y")->type, TW_INT);
    EXPECT_EQ(VarCell("y")->i, -1);
    EXPECT_EQ(VarCell("b")->type, TW_UNINIT);
}

TEST_F(Tokenizer, PutbackRereadsTheSameToken) {
    Line("abc 'q''s' StrLen(1) & b");
    EXPECT_EQ(Next(), V("abc"));
    EXPECT_EQ(Next(), S("q's"));
    putback(st);
    EXPECT_EQ(Next(), S("q's"));
    EXPECT_EQ(Next(), K("StrLen", KW_STRLEN));
    putback(st);
    EXPECT_EQ(Next(), K("StrLen", KW_STRLEN));
    Next();
    Next();
    EXPECT_EQ(Next(), K(")", KW_OP_RPAREN));
    // After a putback the previous token is still ")", so "&" stays binary.
    EXPECT_EQ(Next(), K("&", KW_OP_AMP));
    EXPECT_EQ(last, 1);
    putback(st);
    EXPECT_EQ(Next(), K("&", KW_OP_AMP));
    EXPECT_EQ(last, 1);
    EXPECT_EQ(Next(), V("b"));
    EXPECT_EQ(Next().kind, TK_EOL);
    putback(st);
    EXPECT_EQ(Next().kind, TK_EOL);
}

// Names read under the pointer flags of the statement executor.
TEST_F(Tokenizer, NameModes) {
    // PtrPersistent: the name is private to the running function.
    st->curUdf = 3;
    st->ptrPersistent = 1;
    EXPECT_EQ(All("Counter"), (std::vector<Tok>{V("?03__counter")}));
    EXPECT_NE(var_lookup(st, "?03__counter"), SLOT_NONE);
    EXPECT_EQ(var_lookup(st, "counter"), SLOT_NONE);
    EXPECT_EQ(ErrorOf(std::string(25, 'p').c_str()), 0);
    EXPECT_EQ(ErrorOf(std::string(26, 'p').c_str()), 3055);
    st->ptrPersistent = 0;
    // A pointer prefix parks the name in slot 0 (first letter marked).
    uint16_t used = st->varUsed;
    st->ptrPrefix = 1;
    EXPECT_EQ(All("Target"), (std::vector<Tok>{V("target")}));
    EXPECT_EQ(st->varUsed, used);
    EXPECT_EQ(static_cast<unsigned char>(st->vars[0].name[0]), 't' | 0x80);
    EXPECT_STREQ(st->vars[0].name + 1, "arget");
    EXPECT_EQ(var_lookup(st, "target"), SLOT_NONE);
    st->ptrPrefix = 0;
    // ?MakePointer creates the variable as an INT.
    st->makePointer = 1;
    All("fresh");
    EXPECT_EQ(VarCell("fresh")->type, TW_INT);
}

TEST_F(Tokenizer, StringToken) {
    Line("  hello_1@x rest");
    EXPECT_EQ(get_string_token(st), 1);
    EXPECT_EQ(st->delimType, TK_STRING);
    EXPECT_EQ(st->tok, 65535u);
    EXPECT_STREQ(st->token, "hello_1@x");
    EXPECT_STREQ(st->prog, " rest");
    Line("   ; comment");
    EXPECT_EQ(get_string_token(st), 0);
    EXPECT_EQ(st->err, 0);
    Line("+x");
    EXPECT_EQ(get_string_token(st), 0);
    EXPECT_EQ(st->err, 3054);
}

TEST_F(Tokenizer, HostAndExtenderFunctions) {
    KeywordRec host[2] = {};
    host[0].cls = KC_FUNCTION;
    host[0].value = 1;
    host[0].nameLen = 8;
    strcpy(host[0].name, "hostfunc");
    st->hostFuncs = host;
    KeywordRec& ext = st->extFuncs[0];
    ext = {};
    ext.cls = KC_FUNCTION;
    ext.nameLen = 7;
    strcpy(ext.name, "extfunc");
    st->nNextExtEntry = 1;

    EXPECT_EQ(All("HostFunc(1)")[0], K("HostFunc", PARENTSTART));
    EXPECT_EQ(All("hostfuncs")[0], V("hostfuncs"));
    EXPECT_EQ(All("ExtFunc(1)")[0], K("ExtFunc", ADDONSTART));
    EXPECT_EQ(All("extfunc2")[0], V("extfunc2"));
    EXPECT_STREQ(kw_name(st, PARENTSTART), "hostfunc");
    EXPECT_EQ(kw_record(st, ADDONSTART), &st->extFuncs[0]);
    EXPECT_EQ(kw_record(st, PARENTSTART + 1), nullptr);   // past the end record
    EXPECT_EQ(kw_record(st, ADDONSTART + 1), nullptr);
}

TEST_F(Tokenizer, UserDefinedFunctionsTakeTheLongestWholeName) {
    std::vector<UdfRecord> block(UDF_BLOCK);
    auto define = [&](uint32_t i, const char* name, uint16_t params) {
        memset(&block[i], 0, sizeof block[i]);
        strcpy(block[i].name, name);
        block[i].nameLen = static_cast<uint16_t>(strlen(name));
        block[i].params = params;
        block[i].cls = KC_FUNCTION;
    };
    define(0, "myfunc", 1);
    define(1, "myfunction", 2);
    st->udfBlocks[0] = block.data();
    st->udfCount = 2;

    EXPECT_EQ(All("MyFunction(1, 2)")[0], K("MyFunction", UDFSTART + 1));
    EXPECT_EQ(All("myfunc(1)")[0], K("myfunc", UDFSTART));
    EXPECT_EQ(All("myfuncx")[0], V("myfuncx"));
    const KeywordRec* r = kw_record(st, UDFSTART + 1);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->name, "myfunction");
    EXPECT_EQ(r->value, 2u);
    EXPECT_EQ(r->argTypes, ~0ull);
    EXPECT_STREQ(kw_name(st, UDFSTART), "myfunc");
    EXPECT_EQ(kw_record(st, UDFSTART + 2), nullptr);
    st->udfBlocks[0] = nullptr;
    st->udfCount = 0;
}

}  // namespace

// ---- percent substitution ----

namespace {

class Percent : public StateFixture {
protected:
    char line[LINE_BUF];
    int Subst(const std::string& text) {
        strncpy(line, text.c_str(), LINE_BUF - 1);
        line[LINE_BUF - 1] = 0;
        st->err = 0;
        return percent_subst(st, line);
    }
};

TEST_F(Percent, SubstitutionsAndErrors) {
    SetString("name", "World");
    SetInt("count", 42);
    var_create(st, "declared", TW_UNINIT);   // a slot without a value vanishes too
    SetString("big", std::string(1500, 'b'));
    struct Case {
        std::string text;
        int rc;             // 0 error, 1 no percent sign, 2 substituted
        std::string out;    // the line after it, or the error number
    };
    const Case cases[] = {
        {"Message('x', 'Hello %Name%, %count% times')", 2, "Message('x', 'Hello World, 42 times')"},
        {"x = '100%% sure'", 2, "x = '100% sure'"},
        {"x = 'plain'", 1, "x = 'plain'"},
        {"a%nothing%b", 2, "ab"},
        {"a%declared%b", 2, "ab"},
        {"[%@TAB%|%@crlf%|%@Cr%|%@LF%]", 2, "[\t|\r\n|\r|\n]"},
        {"50% off", 0, "3048"},
        {"x = %name", 0, "3048"},
        {"%" + std::string(31, 'n') + "%", 0, "3047"},
        {"%" + std::string(30, 'n') + "%", 2, ""},
        {"%big%%big%", 0, "3101"},
        {"%big%" + std::string(548, 'c'), 2, std::string(1500, 'b') + std::string(548, 'c')},   // 2048
        {"%big%" + std::string(549, 'c'), 0, "3101"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Subst(c.text), c.rc) << c.text;
        EXPECT_EQ(c.rc ? std::string(line) : std::to_string(st->err), c.out) << c.text;
    }
    // A variable that holds a value wins over the control names.
    SetString("@tab", "T");
    EXPECT_EQ(Subst("%@tab%"), 2);
    EXPECT_STREQ(line, "T");
}

// Private helper to tokenize with the test class of the tokenizer.
std::vector<Tok> Tokens(State* st, char* text) {
    std::vector<Tok> v;
    st->prog = text;
    while (get_token(st) && st->delimType != TK_EOL)
        v.push_back({st->delimType, st->token, st->delimType == TK_KEYWORD ? st->tok : NOKEYWORD});
    return v;
}

TEST_F(Percent, IncludeLineBecomesACallWhenEnabled) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    std::string base = std::string(dir) + "kel_percent_test";
    CreateDirectoryA(base.c_str(), nullptr);
    std::string lib = base + "\\lib.kel";
    HANDLE h = CreateFileA(lib.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    snprintf(st->curFile, sizeof st->curFile, "%s\\main.kel", base.c_str());

    EXPECT_EQ(Subst("#include \"lib.kel\""), 1);   // not enabled
    EXPECT_STREQ(line, "#include \"lib.kel\"");
    st->options = 2;
    SetString("f", "sub.kel");
    const std::pair<const char*, std::string> cases[] = {
        {"#INCLUDE 'lib.kel'  ", "Call(\"" + lib + "\",``)"},
        {"#include other.kel", "Call(\"other.kel\",``)"},   // not found next to the script: as written
        {"#include a", "Call(\"a\",``)"},                   // ten characters are enough
        {"#include %f%", "Call(\"sub.kel\",``)"},           // substitution comes first
        {"#include\tC:\\x\\y.kel", "Call(\"C:\\x\\y.kel\",``)"},
        {"#include ", ""},                                  // too short: left alone
        {"#includes x.kel", ""},                            // no blank after the word
    };
    for (const auto& [text, call] : cases) {
        EXPECT_EQ(Subst(text), call.empty() ? 1 : 2) << text;
        if (!call.empty()) EXPECT_EQ(std::string(line), call) << text;
    }
    // The result is an ordinary statement.
    Subst("#include\tC:\\x\\y.kel");
    std::vector<Tok> t = Tokens(st, line);
    ASSERT_EQ(t.size(), 6u);
    EXPECT_EQ(t[0].code, KW_CALL);
    EXPECT_EQ(t[2].text, "C:\\x\\y.kel");
    EXPECT_EQ(t[4].text, "");

    DeleteFileA(lib.c_str());
    RemoveDirectoryA(base.c_str());
}

// ---- multi-line string constants ----

class Multiline : public StateFixture {
protected:
    HGLOBAL buf = nullptr;
    void TearDown() override {
        if (buf) GlobalFree(buf);
        StateFixture::TearDown();
    }
    // Prepares a script buffer, reads lines up to the one holding $" and
    // tokenizes it up to the multi-line token.
    void Start(const std::string& script) {
        if (buf) lines_forget(st, buf), GlobalFree(buf);
        buf = GlobalAlloc(GMEM_MOVEABLE, script.size() + 1);
        memcpy(GlobalLock(buf), script.c_str(), script.size() + 1);
        GlobalUnlock(buf);
        ASSERT_TRUE(prepare_buffer(st, &buf, "ml.kel", nullptr));
        st->curBuffer = buf;
        uint32_t pos = 0, stmt = 0;
        while (read_line(st, buf, &pos, st->line, &stmt) == 1 && !strstr(st->line, "$\"")) {}
        st->nextPos = pos;
        st->prog = st->line;
        st->err = 0;
        while (get_token(st) && st->delimType != TK_MULTILINE && st->delimType != TK_EOL) {}
        ASSERT_EQ(st->delimType, TK_MULTILINE);
    }
    std::string NextLine() {
        uint32_t stmt;
        return read_line(st, buf, &st->nextPos, st->line, &stmt) == 1 ? st->line : "<none>";
    }
    std::string Text(const Cell& c) { return cell_str(st, &c); }
};

TEST_F(Multiline, SpansLinesWithDoubledColonsAndNumberSigns) {
    Start("x = $\"first\nsecond:: ##3\n  indented\nend$\" : 'tail'\nafter\n");
    Cell c;
    ASSERT_TRUE(read_multiline(st, &c));
    EXPECT_EQ(c.type, TW_STRING);
    EXPECT_EQ(Text(c), "first\nsecond: #3\n  indented\nend");
    cell_release(st, &c, CM_BARE);
    // The rest of the closing line is tokenized normally.
    EXPECT_EQ(Tokens(st, st->prog), (std::vector<Tok>{K(":", KW_OP_CONCAT), S("tail")}));
    EXPECT_EQ(NextLine(), "after");
}

TEST_F(Multiline, ConstantsAndErrors) {
    std::string longScript = "x = $\"", longText;
    for (int i = 0; i < 300; i++) {   // grows past one step of the buffer
        std::string l(60, static_cast<char>('a' + i % 26));
        longScript += l + "\n";
        longText += l + "\n";
    }
    longScript += "$\"\n";
    const char kHint[] = "Check for colons (:) and number signs (#) in multiline strings (Use :: and ##)";
    struct Case {
        std::string script, text;   // the text, or the error number
        const char* detail = nullptr;
    };
    const Case cases[] = {
        {"y = $\"abc$\"\n", "abc"},
        {"y = $\"a\r\nb \r\n$\"\r\n", "a\nb \n"},
        {longScript, longText},
        {"x = $\"a: b$\"\n", "3605", kHint},
        {"x = $\"line\n#5$\"\n", "3605", kHint},
        {"x = $\"never\nclosed\n", "3059"},
    };
    for (const Case& c : cases) {
        Start(c.script);
        Cell r;
        const bool ok = read_multiline(st, &r);
        EXPECT_EQ(ok ? Text(r) : std::to_string(st->err), c.text) << c.script;
        if (ok) cell_release(st, &r, CM_BARE);
        if (c.detail) EXPECT_NE(strstr(st->detail ? st->detail : "", c.detail), nullptr) << c.script;
        err_detail_free(st);
    }
}

}  // namespace
