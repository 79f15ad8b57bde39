// Error numbers, the detail block, message lookup (string table and language
// files), the error variables and the reports a console host receives.
#include "fixture.h"
#include "kel_dll.h"
#include "errors.h"
#include "exec.h"
#include "loader.h"
#include "value.h"
#include <string>
#include <vector>

namespace {

std::string Msg(uint32_t id) {
    char buf[1100];
    return msg_text(nullptr, id, buf, sizeof buf);
}

class Errors : public StateFixture {
protected:
    HGLOBAL script = nullptr;

    void SetUp() override {
        StateFixture::SetUp();
        ASSERT_NE(use_kel_resources(), nullptr) << "the library must be built: " << kel_dll_path();
        st->errorMode = EM_NOTIFY;
    }
    void TearDown() override {
        err_detail_free(st);
        if (script) GlobalFree(script);
        StateFixture::TearDown();
    }

    // Prepares `text` as the main script "C:\t\main.kel" and returns the buffer
    // positions of its lines (marker lines excluded) with their texts.
    std::vector<std::pair<uint32_t, std::string>> Prepare(const std::string& text) {
        if (script) GlobalFree(script);
        script = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
        memcpy(GlobalLock(script), text.c_str(), text.size() + 1);
        GlobalUnlock(script);
        EXPECT_TRUE(prepare_buffer(st, &script, "C:\\t\\main.kel", nullptr));
        std::vector<std::pair<uint32_t, std::string>> lines;
        uint32_t pos = 0, stmt = 0;
        char line[LINE_BUF];
        for (;;) {
            uint32_t at = pos;
            if (read_line(st, script, &pos, line, &stmt) != 1) break;
            if (line[0] == ';' && line[1] == 11) continue;   // source-location marker
            lines.emplace_back(at, line);
        }
        return lines;
    }

    std::string Str(const char* name) {
        const Cell* c = VarCell(name);
        return c && (c->type & TW_STRING) ? cell_str(st, c) : std::string("<none>");
    }
    int32_t Int(const char* name) {
        const Cell* c = VarCell(name);
        return c && c->type == TW_INT ? c->i : -999;
    }
};

// ---- numbers and details ----

TEST(ErrorNumbers, SeverityFollowsTheRange) {
    for (auto [e, sev] : {std::pair{1, SEV_MINOR}, {2000, SEV_MINOR}, {2001, SEV_MODERATE}, {3000, SEV_MODERATE},
                          {3001, SEV_FATAL}, {8999, SEV_FATAL}})
        EXPECT_EQ(err_severity(e), sev) << e;
}

TEST_F(Errors, UserDefinedErrorsReportTheUserCode) {
    st->userCode = 7001;
    for (uint32_t e : {1668u, 2669u, 3670u, 1213u, 2214u, 3215u, 9016u}) EXPECT_EQ(err_reported_number(st, e), 7001u) << e;
    EXPECT_EQ(err_reported_number(st, 3062), 3062u);
}

TEST_F(Errors, DetailsAreSeparatedAndCutAt1024Characters) {
    err_detail(st, "first");
    EXPECT_STREQ(st->detail, "first");
    err_detail(st, "second");
    EXPECT_EQ(std::string(st->detail),
              "first\n\n" + std::string(40, '-') + "\n\xA0\nsecond");
    err_detail(st, std::string(2000, 'x').c_str());
    EXPECT_EQ(strlen(st->detail), 1024u);
    err_detail_free(st);
    EXPECT_EQ(st->detail, nullptr);
    err_detail_free(st);   // twice is harmless
}

TEST_F(Errors, FormattedDetailUsesTheMessageText) {
    err_detailf(st, 9503, 3);
    EXPECT_STREQ(st->detail, "Argument number 3 could not be converted");
}

// ---- message lookup ----

TEST_F(Errors, MessagesComeFromTheStringTable) {
    EXPECT_EQ(Msg(3062), "Attempt to divide by zero");
    EXPECT_EQ(Msg(9515), "System error code %d");
    EXPECT_EQ(Msg(3074), "Expression continues past expected end.");
    EXPECT_EQ(Msg(9999), "User requested Cancel");
    EXPECT_EQ(Msg(3357), "End Error: No match  found");             // two blanks kept
    EXPECT_EQ(Msg(528).find('\n'), 38u);                             // "\n" in the table is a line feed
    EXPECT_EQ(Msg(1), "");                                           // no such message: empty text
    char buf[8] = "junk";
    EXPECT_EQ(LoadMyString(st, g_hInst, 4242, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(LoadMyString(st, g_hInst, 3062, buf, sizeof buf), 7);  // cut to the buffer
    EXPECT_STREQ(buf, "Attempt");
}

TEST_F(Errors, LanguageFileNextToTheLibraryReplacesMessages) {
    const std::string file = dir_of(kel_dll_path()) + "TLVDLANG.ktst";
    write_file(file, "[MAIN]\r\nX9002=Schon gemeldet~zweite Zeile|nach Tab\r\nX111=XXX\r\nX3062=\r\n");
    {
        LanguageSetting lang("ktst");
        EXPECT_EQ(Msg(9002), "Schon gemeldet\nzweite Zeile\tnach Tab");
        EXPECT_EQ(Msg(111), "Execution Error");            // "XXX": not translated
        EXPECT_EQ(Msg(192), "Execution ended");            // key absent: not translated either
        EXPECT_EQ(Msg(3062), "");                          // translated to an empty text
    }
    DeleteFileA(file.c_str());
    EXPECT_EQ(Msg(9002), "Previously reported error");
}

// ---- the error variables ----

TEST_F(Errors, SuppressedMinorErrorSetsTheErrorVariables) {
    auto lines = Prepare("a = 1\ntotal[2] += FileThing()\nb = 2\n");
    ASSERT_EQ(lines.size(), 3u);
    st->errorMode = EM_OFF;
    st->err = 1005;
    err_detail(st, "more about it");
    uint32_t next = lines[2].first;
    EXPECT_EQ(err_after_statement(st, lines[1].second.c_str(), lines[1].first, &next, script), 1);
    EXPECT_EQ(st->err, 0);
    EXPECT_EQ(st->lastErr, 1005);
    EXPECT_EQ(next, lines[2].first);
    EXPECT_EQ(Str("cxerrorhandlerline"), "total[2] += FileThing()");
    EXPECT_EQ(Int("cxerrorhandleroffset"), static_cast<int32_t>(lines[1].first));
    EXPECT_EQ(Str("cxerrorhandlerassignment"), "total");
    EXPECT_EQ(Str("cxerrorhandlerfile"), "C:\\t\\main.kel");
    EXPECT_EQ(Str("cxerrortextstring"), Msg(1005));
    EXPECT_EQ(Str("cxerroradditionalinfo"), "more about it");
    EXPECT_EQ(Str("cxerrorinsegment"), "");
    EXPECT_EQ(Int("cxerrorhandlerlinenumber"), 2);
    EXPECT_EQ(st->detail, nullptr);                          // freed once decided

    const Cell* arr = VarCell("cxerrorarray");
    ASSERT_TRUE(arr && (arr->type & TW_ARRAY));
    ASSERT_EQ(arr->arr->count, 12u);
    EXPECT_EQ(arr_elem(arr->arr, 0)->i, 1005);
    EXPECT_STREQ(cell_str(st, arr_elem(arr->arr, 1)), "total[2] += FileThing()");
    EXPECT_STREQ(cell_str(st, arr_elem(arr->arr, 3)), "total");
    EXPECT_STREQ(cell_str(st, arr_elem(arr->arr, 6)), "more about it");
    EXPECT_EQ(arr_elem(arr->arr, 8)->i, 2);
    EXPECT_EQ(arr_elem(arr->arr, 11)->i, 0);
}

TEST_F(Errors, AssignmentTargetIsOnlyNamedForAssignments) {
    const std::pair<const char*, const char*> cases[] = {
        {"x = 5 / 0", "x"},
        {"  Count2 mod= 0", "Count2"},
        {"*ptr = 1", "ptr"},
        {"name[\"a]b\"] := \"c\"", "name"},
        {"If x == 1 Then y = 2", ""},
        {"x == 1", ""},
        {"StrSub(a, 1, 2)", ""},
        {"abcdefghijabcdefghijabcdefghijXYZ = 1", "abcdefghijabcdefghijabcdefghij"},
    };
    for (auto& [line, target] : cases) {
        st->line[0] = 0;
        snprintf(st->line, sizeof st->line, "%s", line);
        ASSERT_TRUE(err_set_vars(st, 3062, false, nullptr));
        EXPECT_EQ(Str("cxerrorhandlerassignment"), target) << line;
    }
}

// ---- reports handed to a console host ----

struct Captured {
    std::vector<KelReport> reports;
    std::vector<std::string> texts;   // title|numbered|location|statement|detail per report
};

int Capture(void* ctx, const KelReport* r) {
    auto* c = static_cast<Captured*>(ctx);
    c->reports.push_back(*r);
    c->texts.push_back(std::string(r->title) + "|" + r->numbered + "|" + r->location + "|" + r->statement +
                       "|" + r->detail);
    return r->willContinue;
}

class Reports : public Errors {
protected:
    Captured cap;
    std::vector<std::pair<uint32_t, std::string>> lines;

    void SetUp() override {
        Errors::SetUp();
        st->reportCb = reinterpret_cast<void*>(&Capture);
        st->reportCtx = &cap;
        lines = Prepare("a = 1\nx = 5 / 0\nb = 2\n");
    }
    int Decide(uint16_t e) {
        st->err = e;
        uint32_t next = lines[2].first;
        return err_after_statement(st, lines[1].second.c_str(), lines[1].first, &next, script);
    }
};

TEST_F(Reports, ConsoleHostReceivesTheReportTexts) {
    err_detail(st, "detail text");
    EXPECT_EQ(Decide(3062), 0);
    ASSERT_EQ(cap.reports.size(), 1u);
    EXPECT_EQ(cap.reports[0].kind, 0u);
    EXPECT_EQ(cap.reports[0].errNum, 3062u);
    EXPECT_EQ(cap.reports[0].severity, SEV_FATAL);
    EXPECT_EQ(cap.reports[0].willContinue, 0);
    EXPECT_EQ(cap.texts[0], "Error:  KEL|3062:  Attempt to divide by zero|On line 2 of C:\\t\\main.kel|"
                            "x = 5 / 0|detail text");
    EXPECT_EQ(st->err, 3062);          // the run stops on it
    EXPECT_EQ(st->lastErr, 3062);
}

TEST_F(Reports, AnswerFollowsSeverityAndErrorMode) {
    struct Case { int mode; uint16_t e; bool shown; int result; };
    const Case cases[] = {
        {EM_NOTIFY, 1005, true, 1},  {EM_NOTIFY, 2058, true, 1}, {EM_NOTIFY, 3062, true, 0},
        {EM_CANCEL, 1005, true, 0},  {EM_CANCEL, 2058, true, 0},
        {EM_OFF, 1005, false, 1},    {EM_OFF, 2058, true, 1},    {EM_OFF, 3001, true, 0},
    };
    for (const Case& c : cases) {
        cap.reports.clear();
        st->errorMode = c.mode;
        EXPECT_EQ(Decide(c.e), c.result) << c.mode << " " << c.e;
        EXPECT_EQ(cap.reports.size(), c.shown ? 1u : 0u) << c.mode << " " << c.e;
        if (c.shown) EXPECT_EQ(cap.reports[0].willContinue, c.result) << c.mode << " " << c.e;
        EXPECT_EQ(st->err, c.result ? 0 : c.e);
        EXPECT_EQ(st->lastErr, c.e);
    }
}

TEST_F(Reports, ControlCodesAreNeverReported) {
    EXPECT_EQ(Decide(9998), 1);
    EXPECT_EQ(st->err, 0);
    for (uint16_t e : {9000, 9012, 9013, 9015, 9016}) {
        EXPECT_EQ(Decide(e), 0) << e;
        EXPECT_EQ(st->err, e);
    }
    st->cancelMode = 0;
    EXPECT_EQ(Decide(9999), 0);        // a cancel without a handler ends the run quietly
    st->cancelMode = 2;
    EXPECT_EQ(Decide(9999), 0);        // so does one whose :CANCEL label is missing
    EXPECT_EQ(st->err, 9999);
    EXPECT_EQ(st->stackCount, 0u);     // the handler frame is taken back
    EXPECT_TRUE(cap.reports.empty());
}

TEST_F(Reports, CancelHandlerJumpsToTheCancelLabel) {
    lines = Prepare("a = 1\nx = 2\nb = 2\n:CANCEL\nc = 3\n");
    ASSERT_EQ(lines.size(), 5u);
    st->pendingIf = -1;                // none, as at the start of a run
    for (int mode : {1, -1, 2}) {
        st->cancelMode = mode;
        st->stackCount = 0;
        st->err = 9999;
        uint32_t next = lines[2].first;
        EXPECT_EQ(err_after_statement(st, lines[1].second.c_str(), lines[1].first, &next, script), 1) << mode;
        EXPECT_EQ(st->err, 0) << mode;
        EXPECT_EQ(next, lines[4].first) << mode;                 // the line after the label runs next
        EXPECT_EQ(st->cancelMode, mode == -1 ? -1 : 0) << mode; // one-shot, except inside functions
        EXPECT_EQ(Str("cxerrortextstring"), "Cancel");
        EXPECT_EQ(Str("cxerroradditionalinfo"), "User pressed Cancel");
        EXPECT_EQ(arr_elem(VarCell("cxerrorarray")->arr, 0)->i, 9999);
        if (mode == 2) {                                         // Return comes back after the statement
            ASSERT_EQ(st->stackCount, 1u);
            EXPECT_EQ(st->stack[0].kind, SK_GOSUB_NONE);
            EXPECT_EQ(st->stack[0].resume, lines[2].first);
            EXPECT_EQ(st->traceWhy, 1);
        } else {
            EXPECT_EQ(st->stackCount, 0u);
        }
    }
    st->stackCount = 0;
    EXPECT_TRUE(cap.reports.empty());
}

TEST_F(Reports, HandlerFrameOnAFullStackIsAnError) {
    st->errHandlerMode = 2;
    st->stackCount = MAX_STRUCT - 1;   // 100 open structures: no room for the handler's frame
    EXPECT_EQ(Decide(1636), 0);
    st->stackCount = 0;
    ASSERT_EQ(cap.reports.size(), 1u);
    EXPECT_EQ(cap.reports[0].errNum, 3619u);
    EXPECT_EQ(cap.texts[0].find("Error:  KEL|3619:  Unable to call Error Handler: Nesting of structures is too complex|"),
              0u) << cap.texts[0];
}

std::vector<std::string> g_notices;

int64_t NoteHost(HWND, void*, uint32_t, int32_t request, void* p1, KelServices*, void*, void*, int64_t, void*) {
    g_notices.push_back(std::to_string(request) + " " + static_cast<const char*>(p1));
    return 0;
}

TEST_F(Reports, HostHearsOfErrorsWhenItAsked) {
    g_notices.clear();
    st->hostValue = reinterpret_cast<uint64_t>(&NoteHost);
    EXPECT_EQ(Decide(1636), 1);                       // not asked: nothing
    EXPECT_TRUE(g_notices.empty());
    st->hostNotify = HN_ERRORS;
    EXPECT_EQ(Decide(1636), 1);
    EXPECT_EQ(Decide(9000), 0);                       // control codes are no errors
    ASSERT_EQ(g_notices.size(), 1u);
    EXPECT_EQ(g_notices[0], "-7 1636:  Array subscript out of bounds");
    st->hostValue = 0;
}

TEST_F(Reports, OtherBoxesAreHandedOverAndAnsweredToGoOn) {
    EXPECT_EQ(core_box(st, "the text", "the title", MB_OKCANCEL), IDOK);
    EXPECT_EQ(core_box(st, "t", "q", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(core_box(st, "t", "r", MB_RETRYCANCEL), IDCANCEL);
    ASSERT_EQ(cap.reports.size(), 3u);
    EXPECT_EQ(cap.reports[0].kind, 1u);
    EXPECT_EQ(cap.texts[0], "the title|the text|||");
    internal_error(st, "impossible");
    EXPECT_EQ(st->err, 1425);
    EXPECT_EQ(cap.texts.back(), "KEL Internal Error|impossible|||");
}

}  // namespace
