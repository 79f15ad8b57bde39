// The dispatcher on a real state: argument conversion by type code, wide
// mode, routing of host functions through the entry calling path and
// ViperAnswer, result normalisation, and DLLServices requests.
#include "fixture.h"
#include "dispatch.h"
#include "kel_dll.h"
#include "loader.h"
#include <string>
#include <vector>

extern "C" int64_t DLLServices(HGLOBAL state, int request, void* p1, void* p2, int64_t n, int64_t n2);

namespace {

// What the test host entry saw, and how it answers.
struct HostCall {
    int32_t request = -100;
    std::vector<KelValue> args;
    std::vector<std::string> texts;
    std::vector<std::wstring> wtexts;
    int64_t returnCode = 0;
    KelValue answer{};
    bool answers = true;
    const char* errorText = nullptr;
    bool staleString = false;   // leave a string beside a numeric result
};
HostCall g_call;

int64_t test_entry(HWND, void*, uint32_t stamp, int32_t request, void* p1, KelServices* sv, void*, void* p4,
                   int64_t n, void*) {
    EXPECT_EQ(stamp, KEL_STAMP);
    EXPECT_EQ(sv->stamp, KEL_SERVICES_STAMP);
    EXPECT_EQ(sv->size, 136u);
    g_call.request = request;
    auto* a = static_cast<const KelValue*>(p4);
    for (int64_t i = 0; i < n; ++i) {
        g_call.args.push_back(a[i]);
        g_call.texts.push_back(a[i].str ? a[i].str : "");
        g_call.wtexts.push_back(a[i].wstr ? a[i].wstr : L"");
    }
    auto answer = reinterpret_cast<KelAnswer>(p1);
    if (g_call.errorText) {
        KelValue e{};
        e.type = TW_STRING;
        e.str = g_call.errorText;
        answer(-1, 0, sv, &e);
    }
    if (g_call.answers) answer(0, 0, sv, &g_call.answer);
    if (g_call.staleString) {
        auto* st = static_cast<State*>(sv->state);
        auto* c = static_cast<Cell*>(sv->result);
        c->str = heap_strdup(st, "stale", 5);
        c->type |= TW_STRING;
    }
    return g_call.returnCode;
}

KelFunction make_fn(uint32_t code, uint64_t types, const char* name) {
    KelFunction f{};
    f.code = code;
    f.cls = KC_FUNCTION;
    f.argTypes = types;
    f.value = 0xFF;
    f.nameLen = static_cast<uint16_t>(strlen(name));
    memcpy(f.name, name, f.nameLen);
    return f;
}

const KelFunction kHostTable[] = {
    make_fn(7, 0x0, "hostint"),
    make_fn(8, 0x66, "hostwide"),
    KelFunction{},
};

class Dispatch : public StateFixture {
protected:
    Cell args[17];
    Cell result;
    int nargs = 0;
    std::vector<uint32_t> reports;

    static int capture(void* ctx, const KelReport* r) {
        static_cast<Dispatch*>(ctx)->reports.push_back(r->errNum);
        return 1;
    }
    void SetUp() override {
        StateFixture::SetUp();
        ASSERT_NE(use_kel_resources(), nullptr) << "the library must be built: " << kel_dll_path();
        st->hostFuncs = reinterpret_cast<const KeywordRec*>(kHostTable);
        st->hostValue = reinterpret_cast<uint64_t>(&test_entry);
        st->errorMode = 1;
        st->reportCb = reinterpret_cast<void*>(&capture);
        st->reportCtx = this;
        st->selfHandle = stateMem;
        g_call = HostCall{};
        g_call.answer.type = TW_INT;
        g_call.answer.ival = 42;
        for (Cell& c : args) cell_init(&c, 0);
        cell_init(&result, 0);
    }
    void TearDown() override {
        for (Cell& c : args) cell_release(st, &c, CM_BARE);
        cell_release(st, &result, CM_BARE);
        StateFixture::TearDown();
    }
    void Str(const char* s) { ASSERT_TRUE(cell_set_str(st, &args[++nargs], s, strlen(s))); }
    void WStr(const wchar_t* s) { ASSERT_TRUE(cell_set_wstr(st, &args[++nargs], s, wcslen(s))); }
    void Int(int v) { cell_set_int(st, &args[++nargs], v); }
    int Call(uint32_t id, uint64_t types, const char* name = "f") {
        return dispatch(st, name, id, &result, args, false, nargs, types);
    }
    std::string Detail() { return st->detail ? st->detail : ""; }
};

TEST_F(Dispatch, IntegerArgumentsAcceptNumericTextAndRetryThroughFloat) {
    Str("12");
    Str("12.5");
    Int(3);
    EXPECT_EQ(Call(PARENTSTART, 0x000), 0);
    ASSERT_EQ(g_call.args.size(), 3u);
    EXPECT_EQ(g_call.args[0].type, TW_INT);
    EXPECT_EQ(g_call.args[0].ival, 12);
    EXPECT_EQ(g_call.args[1].type, TW_INT);
    EXPECT_EQ(g_call.args[1].ival, 13);   // rounded half away from zero
    EXPECT_EQ(result.type, TW_INT);
    EXPECT_EQ(result.i, 42);
}

TEST_F(Dispatch, UnconvertibleArgumentIs3057NamingItsNumber) {
    Int(1);
    Str("abc");
    EXPECT_EQ(Call(PARENTSTART, 0x00), 3057);
    EXPECT_EQ(g_call.request, -100) << "the function must not be called";
    EXPECT_NE(Detail().find("Argument number 2 could not be converted"), std::string::npos) << Detail();
}

TEST_F(Dispatch, Code6GoesWideWhenAnyCode6ArgumentIsWide) {
    Str("a");
    WStr(L"\u00e9");
    EXPECT_EQ(Call(PARENTSTART + 1, 0x66), 0);
    ASSERT_EQ(g_call.args.size(), 2u);
    for (int k = 0; k < 2; ++k) {
        EXPECT_TRUE(g_call.args[k].type & TW_UNICODE) << k;
        EXPECT_TRUE(g_call.args[k].type & TW_STRING) << k;   // level 4: 8-bit text beside it
    }
    EXPECT_EQ(g_call.wtexts[0], L"a");
    EXPECT_EQ(g_call.wtexts[1], L"\u00e9");
    EXPECT_EQ(g_call.texts[0], "a");
}

TEST_F(Dispatch, Code6StaysAnsiWithoutWideArguments) {
    Str("a");
    Int(5);
    EXPECT_EQ(Call(PARENTSTART + 1, 0x66), 0);
    ASSERT_EQ(g_call.args.size(), 2u);
    EXPECT_EQ(g_call.args[0].type, TW_STRING);
    EXPECT_EQ(g_call.args[1].type, TW_STRING);
    EXPECT_EQ(g_call.texts[1], "5");
}

TEST_F(Dispatch, NumericResultLosesAStaleString) {
    g_call.staleString = true;
    EXPECT_EQ(Call(PARENTSTART, 0), 0);
    EXPECT_EQ(result.type, TW_INT);
    EXPECT_EQ(result.str, 0u);
}

TEST_F(Dispatch, AnswerKinds) {
    g_call.answer = KelValue{};
    g_call.answer.type = TW_STRING;
    g_call.answer.str = "text";
    EXPECT_EQ(Call(PARENTSTART, 0), 0);
    EXPECT_EQ(result.type, TW_STRING);
    EXPECT_STREQ(cell_str(st, &result), "text");

    cell_release(st, &result, CM_BARE);
    g_call.answer.type = TW_UNICODE;
    g_call.answer.wstr = L"w\u00e9";
    EXPECT_EQ(Call(PARENTSTART, 0), 0);
    EXPECT_EQ(result.type, TW_UNICODE);
    EXPECT_EQ(std::wstring(cell_wstr(st, &result)), L"w\u00e9");

    cell_release(st, &result, CM_BARE);
    g_call.answer.type = TW_FLOAT;
    g_call.answer.fval = 2.5;
    EXPECT_EQ(Call(PARENTSTART, 0), 0);
    EXPECT_EQ(result.type, TW_FLOAT);
    EXPECT_EQ(result.f, 2.5);

    cell_release(st, &result, CM_BARE);
    g_call.answers = false;   // no answer: the integer 0
    EXPECT_EQ(Call(PARENTSTART, 0), 0);
    EXPECT_EQ(result.type, TW_INT);
    EXPECT_EQ(result.i, 0);
}

TEST_F(Dispatch, NegativeResultsBecomeErrors) {
    struct Case { int64_t rc; uint16_t err; };
    for (Case c : {Case{-5, 9999}, Case{-6, 9012}, Case{-7, 1643}}) {
        g_call.returnCode = c.rc;
        st->err = 0;
        EXPECT_EQ(Call(PARENTSTART, 0), c.err) << c.rc;
    }
    // With an error handler armed the error takes the ordinary way, with the
    // user code taken from the error text.
    st->errHandlerMode = 1;
    g_call.returnCode = -2;
    g_call.errorText = "7001: disk on fire";
    st->err = 0;
    EXPECT_EQ(Call(PARENTSTART, 0), 2214);
    EXPECT_EQ(st->userCode, 7001);
    EXPECT_STREQ(st->userText, "7001: disk on fire");
    g_call.returnCode = -3;
    g_call.errorText = "no number here";
    st->err = 0;
    EXPECT_EQ(Call(PARENTSTART, 0), 3215);
    EXPECT_EQ(st->userCode, 999);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Dispatch, ExtenderErrorIsReportedAtOnce) {
    g_call.returnCode = -1;
    g_call.errorText = "bad input";
    st->errorMode = 2;   // @NOTIFY: the report answers "continue"
    EXPECT_EQ(Call(PARENTSTART, 0), 0);
    ASSERT_EQ(reports.size(), 1u);
    st->errorMode = 1;   // @CANCEL: stops, already reported
    EXPECT_EQ(Call(PARENTSTART, 0), 9014);
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(Dispatch, MissingFunctionsAre3046) {
    EXPECT_EQ(Call(PARENTSTART + 2, 0), 3046);    // beyond the host table
    st->err = 0;
    EXPECT_EQ(Call(2500, 0), 3046);               // no id range at all
    st->err = 0;
    err_detail_free(st);
    // A keyword-table function that no module implements names itself.
    uint32_t missing = NOKEYWORD;
    for (uint32_t id = 0; id < KW_COUNT && missing == NOKEYWORD; ++id)
        if (g_keywords[id].cls == KC_FUNCTION && !builtin_lookup(id) && id != KW_Q_OLEOBJECT) missing = id;
    ASSERT_NE(missing, NOKEYWORD);
    EXPECT_EQ(Call(missing, 0xFFFFFFFFFFFFFFFFull, "SomeFunc"), 3046);
    EXPECT_NE(Detail().find("SomeFunc is not available in this version"), std::string::npos) << Detail();
}

TEST(Builtins, NoIdIsImplementedTwice) {
    EXPECT_EQ(builtin_conflicts(), 0);
    EXPECT_NE(builtin_lookup(KW_CALL), nullptr);
}

// ------------------------------------------------------------ DLLServices

TEST_F(Dispatch, ServicesRestoreTheErrorExceptRequest13) {
    st->options = 3;
    st->err = 1234;
    EXPECT_EQ(DLLServices(stateMem, 39, nullptr, nullptr, 1, 0), 3);   // previous options
    EXPECT_EQ(st->options, 1u);
    EXPECT_EQ(st->err, 1234);
    EXPECT_EQ(DLLServices(stateMem, 9999, nullptr, nullptr, 0, 0), 0);    // refused
    EXPECT_EQ(st->err, 1234);
    EXPECT_EQ(DLLServices(stateMem, 13, nullptr, nullptr, 0x10000 + 9012, 0), 1);
    EXPECT_EQ(st->err, 9012);
}

TEST_F(Dispatch, ServicesNotificationBits) {
    EXPECT_EQ(DLLServices(stateMem, 3, nullptr, nullptr, HN_PERLINE, 0), 0);
    EXPECT_EQ(DLLServices(stateMem, 60, nullptr, nullptr, HN_ERRORS, 1), HN_PERLINE);
    EXPECT_EQ(st->hostNotify, HN_PERLINE | HN_ERRORS);
    EXPECT_EQ(DLLServices(stateMem, 60, nullptr, nullptr, HN_PERLINE, 0), HN_PERLINE | HN_ERRORS);
    EXPECT_EQ(st->hostNotify, static_cast<uint32_t>(HN_ERRORS));
}

TEST_F(Dispatch, ServicesVariablesAndStrings) {
    EXPECT_EQ(DLLServices(stateMem, 1, const_cast<char*>("Greeting"), const_cast<char*>("hello"), 0, 0), 1);
    char buf[16];
    EXPECT_EQ(DLLServices(stateMem, 2, const_cast<char*>("greeting"), buf, sizeof buf, 0), 1);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(DLLServices(stateMem, 2, const_cast<char*>("nosuch"), buf, sizeof buf, 0), 0);
    EXPECT_EQ(DLLServices(stateMem, 1, const_cast<char*>("bad name!"), const_cast<char*>("x"), 0, 0), 0);

    int64_t h = DLLServices(stateMem, 42, const_cast<char*>("in heap"), nullptr, 0, 0);
    ASSERT_NE(h, 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(DLLServices(stateMem, 41, nullptr, nullptr, h, 0)), "in heap");
    EXPECT_EQ(DLLServices(stateMem, 41, nullptr, nullptr, 0, 0), 0);

    EXPECT_EQ(DLLServices(stateMem, 11, const_cast<char*>("x 'y z'"), nullptr, 0, 0), 1);
    EXPECT_EQ(VarCell("param0")->i, 2);
    EXPECT_STREQ(cell_str(st, VarCell("param2")), "y z");
}

}  // namespace
