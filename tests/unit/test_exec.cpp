// The statement executor on a real state: jump markers, the label search and
// its patching, definition headers, and whole scripts run through the line
// loop where the outcome is internal (markers, levels, the trace writer),
// with reports captured instead of shown. What a script sees of its
// statements is checked by tests/scripts/statements/.
#include "fixture.h"
#include "linecache.h"
#include "exec.h"
#include "errors.h"
#include "loader.h"
#include "tokenizer.h"
#include <string>
#include <vector>

namespace {

class Exec : public ScriptFixture {
protected:
    int32_t Int(const char* name) {
        const Cell* c = VarCell(name);
        EXPECT_NE(c, nullptr) << name;
        return c ? c->i : INT32_MIN;
    }
    // The error the run stopped with (the one reported).
    uint32_t Reported() const { return errors.empty() ? 0 : errors.back(); }
    // Byte `i` of the running buffer, decoded.
    uint8_t Byte(uint32_t i) {
        auto* p = static_cast<uint8_t*>(GlobalLock(buf));
        uint8_t c = scr_dec(p[i], i);
        GlobalUnlock(buf);
        return c;
    }
};

TEST(JumpMarker, EncodesPositionsInSixBitGroups) {
    for (uint32_t pos : {0u, 1u, 63u, 64u, 4095u, 262144u, 0xABCDEFu, JM_MAXPOS}) {
        uint8_t m[6] = {};
        jump_marker_encode(m, pos & 1, pos);
        for (int k = 1; k < 5; ++k) EXPECT_TRUE(m[k] >= 64 && m[k] < 128) << pos;
        bool gosub;
        uint32_t back;
        ASSERT_TRUE(jump_marker_decode(reinterpret_cast<char*>(m), &gosub, &back));
        EXPECT_EQ(back, pos);
        EXPECT_EQ(gosub, (pos & 1) != 0);
    }
    uint8_t m[6] = {JM_GOTO, 64, 64, 65, 64 + 63, 0};
    bool gosub;
    uint32_t pos;
    ASSERT_TRUE(jump_marker_decode(reinterpret_cast<char*>(m), &gosub, &pos));
    EXPECT_EQ(pos, 64u + 63u);                 // most significant group first
    m[2] = 'A' - 10;                           // a byte outside 64..127 is no marker
    EXPECT_FALSE(jump_marker_decode(reinterpret_cast<char*>(m), &gosub, &pos));
}

TEST_F(Exec, DefinitionHeaders) {
    UdfRecord r;
    EXPECT_EQ(udf_parse_header(st, " Add(a, b) ; comment", false, &r), 0);
    EXPECT_STREQ(r.name, "add");
    ASSERT_EQ(r.params, 2);
    EXPECT_STREQ(r.paramNames[1], "b");
    EXPECT_EQ(udf_parse_header(st, "f()", false, &r), 0);
    EXPECT_EQ(r.params, 0);
    EXPECT_EQ(udf_parse_header(st, "F ( X )", false, &r), 0);
    EXPECT_STREQ(r.paramNames[0], "x");
    std::string sixteen = "g(p1,p2,p3,p4,p5,p6,p7,p8,p9,p10,p11,p12,p13,p14,p15,p16)";
    EXPECT_EQ(udf_parse_header(st, sixteen.c_str(), false, &r), 0);
    EXPECT_EQ(r.params, 16);
    std::string seventeen = sixteen.substr(0, sixteen.size() - 1) + ",p17)";
    for (const char* bad : {"", "f", "f(a,)", "f(,a)", "f(a", "f(a b)", "f(a) x", "(a)",
                            "f(abcdefghijabcdefghijabcdefghijk)", "abcdefghijabcdefghijabcdefghijk()"})
        EXPECT_EQ(udf_parse_header(st, bad, false, &r), -1) << bad;
    EXPECT_EQ(udf_parse_header(st, seventeen.c_str(), false, &r), -1);

    EXPECT_EQ(udf_parse_header(st, "cmd a b\tc ; note", true, &r), 0);
    EXPECT_STREQ(r.name, "cmd");
    EXPECT_EQ(r.params, 3);
    EXPECT_EQ(udf_parse_header(st, "cmd p1 p2 p3 p4 p5 p6 p7 p8 p9 p10 p11 p12 p13 p14 p15 p16 p17", true, &r), -1);

    ASSERT_EQ(Run("#DefineFunction twice(x)\nReturn x * 2\n#EndFunction\n"), 1);
    EXPECT_EQ(udf_parse_header(st, "TWICE(y, z", false, &r), 1);   // known name: accepted as is
}

TEST_F(Exec, DirectivesAreRecognisedByWholeWord) {
    EXPECT_EQ(directive_of("#DefineFunction f()"), DIR_DEFFUNC);
    EXPECT_EQ(directive_of("#ENDSUBROUTINE"), DIR_ENDSUB);
    EXPECT_EQ(directive_of("#endcommand ; x"), DIR_ENDCMD);
    EXPECT_EQ(directive_of("#DefineFunctions f()"), -1);
    EXPECT_EQ(directive_of("#include x"), -1);
}

// A GoTo or GoSub that found its label becomes a jump marker; the search
// passes over function bodies; a function that returns from inside loops and
// the GoSub's Return leave no structure open.
TEST_F(Exec, LabelSearchSkipsBodiesAndPatchesTheStatement) {
    const std::string text =
        "#DefineFunction f()\n"
        ":inside\n"
        "While 1\n"
        "For i = 1 To 2\n"
        "Return 5\n"
        "Next\n"
        "EndWhile\n"
        "#EndFunction\n"
        "x = 0\n"
        "GoTo down\n"
        "x = 99\n"
        ":DOWN ; the label\n"
        "x = x + 1\n"
        "For i = 1 To 3\n"
        "  GoSub bump\n"
        "Next\n"
        "y = f()\n"
        "Exit\n"
        ":bump\n"
        "x = x + i\n"
        "Return\n";
    EXPECT_EQ(Run(text), 0);
    EXPECT_EQ(st->err, 9000);
    EXPECT_EQ(Int("x"), 7);
    EXPECT_EQ(Int("y"), 5);
    EXPECT_EQ(st->level, 0);
    EXPECT_EQ(st->stackCount, 0u);
    EXPECT_EQ(Byte(text.find("GoTo")), JM_GOTO);
    EXPECT_EQ(Byte(text.find("GoSub")), JM_GOSUB);
    uint32_t pos = 0;
    st->curBuffer = buf;
    EXPECT_EQ(label_search(st, "inside", &pos, 0, 0, buf, true), 0);
    EXPECT_EQ(st->err, 3033);
    st->err = 0;
    EXPECT_EQ(label_search(st, "down", &pos, 0, 0, buf, true), 1);
    EXPECT_EQ(text.substr(pos, 9), "x = x + 1");   // the line after the label
    st->curBuffer = nullptr;

    // A second run of the patched buffer jumps through the markers.
    uint32_t start = 0;
    Cell result;
    cell_init(&result);
    EXPECT_EQ(line_loop(st, &result, buf, &start, nullptr), 0);
    EXPECT_EQ(Int("x"), 7);
}

// An error inside a function is reported once (the callers stop quietly with
// 9015); definitions left open or nested end the run without one left open.
TEST_F(Exec, DefinitionsAndErrorsInsideThem) {
    ASSERT_EQ(Run("#DefineFunction bad()\nx = 1/0\n#EndFunction\ny = bad()\n"), 0);
    EXPECT_EQ(errors, std::vector<uint32_t>{3062});
    EXPECT_EQ(st->err, 9015);
    EXPECT_EQ(st->level, 0);
    EXPECT_EQ(Run("#DefineFunction f()\nx = 1\n"), 0);
    EXPECT_EQ(Reported(), 3723u);
    EXPECT_EQ(st->inDefinition, 0);
    EXPECT_EQ(Run("#DefineSubroutine s()\n#DefineCommand c\n"), 0);
    EXPECT_EQ(Reported(), 3230u);
}

}  // namespace

namespace {

struct TraceRecord {
    int event, code, outcome;
    std::string text;
};
std::vector<TraceRecord> g_trace;

// Records the events that write records (not the values kept for them).
void record_trace(State* st, int event, const char* text, const Cell*) {
    if (event == TRACE_VALUE) return;
    g_trace.push_back({event, st->traceEvent, st->traceOutcome, text ? text : ""});
}

TEST_F(Exec, TraceWriterSeesEveryStatementWithItsEventCode) {
    g_trace.clear();
    g_traceWriter = record_trace;
    st->traceOn = 1;
    const std::string text =
        "#DefineFunction f()\n"
        "Return 1\n"
        "#EndFunction\n"
        "x = f()\n"          // 0, with the call and return events around the body
        "If 0\n"             // 10 false
        "y = 1\n"            // 2 skipped
        "EndIf\n"            // 4
        "While 1\n"          // 3 true
        "Break\n"            // 6 true
        "EndWhile\n"         // 4
        "For i = 1 To 1\n"   // 8 true
        "Next\n"             // 4, then the To clause (8 false) and Next again (4)
        "If 1 Then z = 1\n"  // 1 true
        "Else z = 2\n";      // 1 false
    ASSERT_EQ(Run(text), 1);
    g_traceWriter = nullptr;
    std::vector<std::vector<int>> want = {
        {TRACE_EVENT, TE_UDF, 1}, {TRACE_EVENT, TE_UDF, 0}, {TRACE_STATEMENT, TE_VALUE, 1},
        {TRACE_STATEMENT, TE_IFBLOCK, 0}, {TRACE_STATEMENT, TE_SKIPPED, 0}, {TRACE_STATEMENT, TE_END, 1},
        {TRACE_STATEMENT, TE_WHILE, 1}, {TRACE_STATEMENT, TE_BREAK, 1}, {TRACE_STATEMENT, TE_END, 1},
        {TRACE_STATEMENT, TE_FOR, 1}, {TRACE_STATEMENT, TE_END, 1},
        {TRACE_STATEMENT, TE_FOR, 0}, {TRACE_STATEMENT, TE_END, 1},   // Next ran the To pass, then ended
        {TRACE_STATEMENT, TE_IFLINE, 1},
        {TRACE_STATEMENT, TE_IFLINE, 0}, {TRACE_END_OF_JOB, TE_IFLINE, 0},
    };
    ASSERT_EQ(g_trace.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(g_trace[i].event, want[i][0]) << i;
        EXPECT_EQ(g_trace[i].code, want[i][1]) << i << " " << g_trace[i].text;
        EXPECT_EQ(g_trace[i].outcome, want[i][2]) << i << " " << g_trace[i].text;
    }
    EXPECT_EQ(g_trace[0].text, "f");
}

TEST_F(Exec, StopRequestEndsTheRunAfterTheStatement) {
    st->stopRequest = 1;
    EXPECT_EQ(Run("x = 1\ny = 2\n"), 0);
    EXPECT_EQ(st->err, 0);
    EXPECT_EQ(Int("x"), 1);
    EXPECT_EQ(VarCell("y"), nullptr);
}

}  // namespace
