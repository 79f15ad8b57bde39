// The trace writer on a real state: it never changes what a script does (the
// same script ends the same way with and without a trace, and the writer
// leaves the error number and the system's last error alone), jump markers
// are spelled out again in the records, and the single-step window of Debug
// shows the statement, lists the variables and obeys its buttons.
#include "fixture.h"
#include "ui_user.h"
#include "kel_dll.h"
#include "diag/trace.h"
#include "diag/trace_block.h"
#include "exec.h"
#include "loader.h"
#include <cmath>
#include <string>

namespace {

class Trace : public ScriptFixture {
protected:
    char file[MAX_PATH] = "";

    void SetUp() override {
        ScriptFixture::SetUp();
        ASSERT_NE(use_kel_resources(), nullptr) << "the library must be built: " << kel_dll_path();
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        GetTempFileNameA(dir, "ktr", 0, file);
    }
    void TearDown() override {
        trace_teardown(st);
        DeleteFileA(file);
        g_debugStep = nullptr;
        ScriptFixture::TearDown();
    }
    // Every variable as "name=type:value", and how the run ended.
    std::string Outcome(int rc) {
        std::string out = "rc=" + std::to_string(rc) + " err=" + std::to_string(st->err) +
                          " last=" + std::to_string(st->lastErr);
        for (const std::string& row : variable_rows(st)) out += "\n" + row;
        return out;
    }
    std::string FileText() {
        HANDLE f = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return {};
        char text[65536];
        DWORD got = 0;
        ReadFile(f, text, sizeof text - 1, &got, nullptr);
        CloseHandle(f);
        return std::string(text, got);
    }
};

const char kBusyScript[] =
    "#DefineFunction OnErr(e)\n"
    "   Return 1\n"
    "#EndFunction\n"
    "#DefineFunction Sum(a, b)\n"
    "   DebugTrace(22)\n"
    "   Return a + b\n"
    "#EndFunction\n"
    "ErrorMode(@OFF)\n"
    "x = IntControl(999, 0, 0, 0, 0)\n"
    "ErrorMode(@CANCEL)\n"
    "IntControl(73, 3, \"OnErr\", 0, 0)\n"
    "y = 1 / 0\n"
    "total = 0\n"
    "For i = 1 To 5\n"
    "   total = Sum(total, i) : \"\"\n"
    "   If i == 3 Then Continue\n"
    "Next\n"
    "f = 1.0 / 3\n"
    "Switch total\n"
    "Case 15\n"
    "   s = \"fifteen\"\n"
    "   Break\n"
    "EndSwitch\n"
    "z = 2 / 0\n"
    "after = 1\n";

TEST_F(Trace, AScriptEndsTheSameWayWithAndWithoutTheTrace) {
    const int plainRc = Run(kBusyScript);
    const std::string plain = Outcome(plainRc);
    ASSERT_NE(plain.find("last=3062"), std::string::npos) << plain;   // the handler took both errors
    ASSERT_NE(plain.find("after = 1"), std::string::npos) << plain;

    // A fresh state, the same script with the trace on from its first line.
    TearDown();
    SetUp();
    ASSERT_EQ(trace_host_request(st, file, nullptr, 0, 1), 1);
    st->traceOn = st->traceAtStart;
    const int tracedRc = Run(kBusyScript);
    EXPECT_EQ(Outcome(tracedRc), plain);
    const std::string text = FileText();
    EXPECT_NE(text.find("KEL ERROR SUPPRESSED =>1809"), std::string::npos);
    EXPECT_NE(text.find("RETURN VALUE INT => 15"), std::string::npos) << text;
    EXPECT_NE(text.find(";;;END OF JOB;;;"), std::string::npos);
}

TEST_F(Trace, TheWriterLeavesTheErrorNumberAndTheSystemErrorAlone) {
    ASSERT_EQ(trace_host_request(st, file, nullptr, 0, 1), 1);
    st->traceOn = 1;
    Cell nan;
    cell_init(&nan);
    nan.type = TW_FLOAT;
    nan.f = std::nan("");   // its text fails with 1599 inside the writer
    st->err = 1234;
    SetLastError(77);
    trace_write(st, TRACE_VALUE, nullptr, &nan);
    st->traceEvent = TE_FOR;
    st->traceOutcome = 1;
    trace_write(st, TRACE_STATEMENT, "For i = 1 To x", &nan);
    EXPECT_EQ(st->err, 1234);
    EXPECT_EQ(GetLastError(), 77u);
    EXPECT_NE(FileText().find("For i = 1 To x\r\n"), std::string::npos);
}

TEST_F(Trace, JumpMarkersAreSpelledOutAgain) {
    // A marker (byte 159 for GoTo, 158 for GoSub, then four bytes of 64 + a
    // 6-bit group) replaces the first five bytes: "GoTo " or "GoSub".
    EXPECT_EQ(trace_statement_text("\x9F@@ABdone"), "goto done");
    EXPECT_EQ(trace_statement_text("\x9E@@AB sub"), "gosub sub");
    EXPECT_EQ(trace_statement_text(":top \x9F@@ABtop"), ":top goto top");
    EXPECT_EQ(trace_statement_text("If a Then \x9E@@AB sub"), "If a Then gosub sub");
    // The blank that a CR LF line end leaves is not part of the statement.
    EXPECT_EQ(trace_statement_text("x = 1 "), "x = 1");
    // The same bytes inside other text are characters of the text.
    EXPECT_EQ(trace_statement_text("x = \"\x9F@@AB\""), "x = \"\x9F@@AB\"");
}

// The single-step window needs a user at the screen: no report hand-off.
class Stepping : public Trace {
protected:
    void SetUp() override {
        Trace::SetUp();
        st->reportCb = nullptr;
        st->debugOut = 1;
        snprintf(trace_block(st)->debugTitle, sizeof trace_block(st)->debugTitle, "Stepping %s",
                 testing::UnitTest::GetInstance()->current_test_info()->name());
        debug_step_install();
    }
    std::string Title() const { return st->traceBlock->debugTitle; }
};

TEST_F(Stepping, NextShowVarAndRun) {
    std::vector<std::string> lines, vars;
    const std::string title = Title();
    User user([&] {
        HWND d = WaitWindow(title);
        if (!d) return false;
        lines.push_back(dlg_item_text(d, 2002));
        press_button(d, IDOK);                    // Next Statement
        WaitGone(d);
        d = WaitWindow(title);
        if (!d) return false;
        lines.push_back(dlg_item_text(d, 2002));
        press_button(d, 2004);                    // Show Var
        HWND list = GetDlgItem(d, 2003);
        for (int i = 0; i < 100 && SendMessageA(list, LB_GETCOUNT, 0, 0) == 0; ++i) Sleep(50);
        char row[256] = "";
        SendMessageA(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(row));
        vars.push_back(row);
        press_button(d, 2005);                    // Run: no more stops
        return true;
    });
    EXPECT_EQ(Run("a = 1\nb = a + 1\nc = b + 1\n"), 1);
    ASSERT_TRUE(user.Finish());
    EXPECT_EQ(lines, (std::vector<std::string>{"a = 1", "b = a + 1"}));
    ASSERT_EQ(vars.size(), 1u);
    EXPECT_EQ(vars[0], "INT            a = 1");
    EXPECT_EQ(st->debugOut, 0);
    const Cell* c = VarCell("c");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->i, 3);
}

TEST_F(Stepping, CancelEndsTheRunBeforeTheStatement) {
    const std::string title = Title();
    User user([&] {
        HWND d = WaitWindow(title);
        if (!d) return false;
        press_button(d, IDCANCEL);
        return true;
    });
    EXPECT_EQ(Run("a = 1\n"), 0);
    ASSERT_TRUE(user.Finish());
    EXPECT_EQ(st->err, 9999);
    const Cell* a = VarCell("a");
    EXPECT_TRUE(!a || a->type == TW_UNINIT);
}

}  // namespace
