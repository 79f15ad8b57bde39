// The real error dialogs (ERRORMSG, ERRORMSGB, STACKINFO) and the plain box of
// no-dialog mode, driven from a second thread the way a user would: the test
// finds the window by its title, reads its controls and presses its buttons,
// while the interpreter thread waits in the modal dialog.
#include "fixture.h"
#include "kel_dll.h"
#include "ui_user.h"
#include "errors.h"
#include "exec.h"
#include "loader.h"
#include "resources/resource.h"
#include <string>
#include <vector>

namespace {

std::string Text(HWND w) {
    char buf[4096] = "";
    GetWindowTextA(w, buf, sizeof buf);
    return buf;
}

std::string Item(HWND dlg, int id) { return dlg_item_text(dlg, id); }
void Press(HWND dlg, int id) { press_button(dlg, id); }

// All static texts of a message box, joined by "|".
std::string BoxTexts(HWND box) {
    std::string out;
    EnumChildWindows(box, [](HWND w, LPARAM lp) -> BOOL {
        char cls[32];
        GetClassNameA(w, cls, sizeof cls);
        std::string t = Text(w);
        if (_stricmp(cls, "Static") == 0 && !t.empty()) {
            auto* o = reinterpret_cast<std::string*>(lp);
            if (!o->empty()) *o += "|";
            *o += t;
        }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&out));
    return out;
}

class ErrorDialog : public StateFixture {
protected:
    HGLOBAL script = nullptr;
    uint32_t linePos = 0, nextPos = 0;
    std::string title;

    void SetUp() override {
        StateFixture::SetUp();
        ASSERT_NE(use_kel_resources(), nullptr) << "the library must be built: " << kel_dll_path();
        st->errorMode = EM_NOTIFY;
        const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        snprintf(st->hostId1, sizeof st->hostId1, "%.19s", name.c_str());
        title = std::string("Error:  ") + st->hostId1;
        const char text[] = "a = 1\nx = 5 / 0\nb = 2\n";
        script = GlobalAlloc(GMEM_MOVEABLE, sizeof text);
        memcpy(GlobalLock(script), text, sizeof text);
        GlobalUnlock(script);
        ASSERT_TRUE(prepare_buffer(st, &script, "C:\\t\\dlg.kel", nullptr));
        uint32_t pos = 0, stmt = 0;
        char line[LINE_BUF];
        int n = 0;
        for (uint32_t at = pos; read_line(st, script, &pos, line, &stmt) == 1; at = pos) {
            if (line[0] == ';' && line[1] == 11) continue;
            if (++n == 2) linePos = at;
            if (n == 3) { nextPos = at; break; }
        }
    }
    void TearDown() override {
        err_detail_free(st);
        if (script) GlobalFree(script);
        StateFixture::TearDown();
    }
    int Decide(uint16_t e) {
        st->err = e;
        uint32_t next = nextPos;
        return err_after_statement(st, "x = 5 / 0", linePos, &next, script);
    }
};

TEST_F(ErrorDialog, ContinueGoesOnWithTheNextStatement) {
    std::vector<std::string> seen;
    User user([&] {
        HWND d = WaitWindow(title);
        if (!d) return false;
        for (int id : {IDC_ERR_HEADING, IDC_ERR_FILE, IDC_ERR_NUMBERED, IDC_ERR_LOCATION, IDC_ERR_SCOPE,
                       IDC_ERR_STATEMENT, IDOK, IDCANCEL, IDC_ERR_MOREINFO, IDC_ERR_TRACEBACK})
            seen.push_back(Item(d, id));
        seen.push_back(Item(d, IDC_ERR_VERSION));
        Press(d, IDOK);
        return true;
    });
    EXPECT_EQ(Decide(1005), 1);
    ASSERT_TRUE(user.Finish()) << "no dialog titled " << title;
    EXPECT_EQ(st->err, 0);
    EXPECT_EQ(st->lastErr, 1005);
    ASSERT_EQ(seen.size(), 11u);
    EXPECT_EQ(seen[0], "Error:");
    EXPECT_EQ(seen[1], "C:\\t\\dlg.kel");
    EXPECT_EQ(seen[2], "1005:  FileMove: TO file open failed");
    EXPECT_EQ(seen[3], "On line 2 of C:\\t\\dlg.kel");
    EXPECT_EQ(seen[4], "In C:\\t\\dlg.kel");
    EXPECT_EQ(seen[5], "x = 5 / 0");
    EXPECT_EQ(seen[6], "&Continue");
    EXPECT_EQ(seen[7], "&Exit");
    EXPECT_EQ(seen[8], "&More Error Info");
    EXPECT_EQ(seen[9], "&Traceback");
    EXPECT_NE(seen[10].find("KEL Version: " KEL_VERSION_STR), std::string::npos) << seen[10];
    EXPECT_EQ(seen[10].find(st->hostId1), 0u) << seen[10];
}

TEST_F(ErrorDialog, ExitStopsTheRun) {
    User user([&] {
        HWND d = WaitWindow(title);
        if (!d) return false;
        Press(d, IDCANCEL);
        return true;
    });
    EXPECT_EQ(Decide(2058), 0);
    ASSERT_TRUE(user.Finish());
    EXPECT_EQ(st->err, 2058);
}

TEST_F(ErrorDialog, CancelModeShowsTheOneButtonDialog) {
    st->errorMode = EM_CANCEL;
    bool hasExit = true;
    std::string button;
    User user([&] {
        HWND d = WaitWindow(title);
        if (!d) return false;
        hasExit = GetDlgItem(d, IDCANCEL) != nullptr;
        button = Item(d, IDOK);
        Press(d, IDOK);
        return true;
    });
    EXPECT_EQ(Decide(1005), 0);          // OK acknowledges; under @CANCEL the run stops
    ASSERT_TRUE(user.Finish());
    EXPECT_FALSE(hasExit);
    EXPECT_EQ(button, "OK");
}

TEST_F(ErrorDialog, MoreErrorInfoShowsTheDetailBlock) {
    err_detail(st, "first detail");
    err_detail(st, "second detail");
    std::string boxText;
    bool enabled = false;
    User user([&] {
        HWND d = WaitWindow(title);
        if (!d) return false;
        enabled = IsWindowEnabled(GetDlgItem(d, IDC_ERR_MOREINFO));
        Press(d, IDC_ERR_MOREINFO);
        HWND box = WaitWindow("More Error Information");
        if (!box) return false;
        boxText = BoxTexts(box);
        Press(box, IDOK);
        WaitGone(box);
        Press(d, IDOK);
        return true;
    });
    EXPECT_EQ(Decide(1005), 1);
    ASSERT_TRUE(user.Finish());
    EXPECT_TRUE(enabled);
    EXPECT_NE(boxText.find("first detail"), std::string::npos) << boxText;
    EXPECT_NE(boxText.find("second detail"), std::string::npos) << boxText;
    EXPECT_NE(boxText.find("----------------------------------------"), std::string::npos) << boxText;
}

TEST_F(ErrorDialog, TracebackListsTheOpenStructures) {
    ASSERT_TRUE(struct_push(st, SK_WHILE, SS_EXEC));
    st->stack[0].linePos = linePos;
    st->stack[0].caller = script;
    std::vector<std::string> items;
    User user([&] {
        HWND d = WaitWindow(title);
        if (!d) return false;
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, IDC_ERR_MOREINFO)));   // no details
        Press(d, IDC_ERR_TRACEBACK);
        HWND tb = WaitWindow("Traceback");
        if (!tb) return false;
        HWND list = GetDlgItem(tb, IDC_STACK_LIST);
        int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            char buf[512] = "";
            SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buf));
            items.push_back(buf);
        }
        Press(tb, IDOK);
        WaitGone(tb);
        Press(d, IDCANCEL);
        return true;
    });
    EXPECT_EQ(Decide(2058), 0);
    ASSERT_TRUE(user.Finish());
    st->stackCount = 0;
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0], "1\tWhile\tline 2\tC:\\t\\dlg.kel");
}

TEST_F(ErrorDialog, NoDialogModeUsesAPlainBoxAndTheMessageLog) {
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    const std::string log = std::string(tmp) + "kel_msglog_test.txt";
    DeleteFileA(log.c_str());
    st->noDialogs = 1;
    snprintf(st->msgLog, sizeof st->msgLog, "%s", log.c_str());
    const std::string boxTitle = "1005:  FileMove: TO file open failed";
    std::string boxText;
    User user([&] {
        HWND box = WaitWindow(boxTitle);
        if (!box) return false;
        boxText = BoxTexts(box);
        Press(box, IDOK);
        return true;
    });
    EXPECT_EQ(Decide(1005), 1);
    ASSERT_TRUE(user.Finish());
    EXPECT_EQ(boxText, "x = 5 / 0");
    EXPECT_STREQ(st->boxTitle, boxTitle.c_str());
    EXPECT_STREQ(st->boxText, "x = 5 / 0");
    FILE* f = fopen(log.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char line[1024] = "";
    fgets(line, sizeof line, f);
    fclose(f);
    DeleteFileA(log.c_str());
    std::string l(line);
    EXPECT_EQ(l.size() > 21 && l[4] == '-' && l[10] == ' ' && l[13] == ':', true) << l;   // date and time
    EXPECT_NE(l.find(std::string("  ") + st->hostId1 + "  " + boxTitle + "  x = 5 / 0\r\n"), std::string::npos) << l;
}

TEST_F(ErrorDialog, SaveWritesTheReportAndStops) {
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    const std::string file = std::string(tmp) + "kel_saved_report.txt";
    DeleteFileA(file.c_str());
    st->saveReport = 1;
    snprintf(st->savePath, sizeof st->savePath, "%s", file.c_str());
    User user([&] {
        HWND d = WaitWindow(title);
        if (!d || !IsWindowVisible(GetDlgItem(d, IDC_ERR_SAVE))) return false;
        Press(d, IDC_ERR_SAVE);
        return true;
    });
    EXPECT_EQ(Decide(1005), 0);
    ASSERT_TRUE(user.Finish());
    FILE* f = fopen(file.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[4096] = "";
    buf[fread(buf, 1, sizeof buf - 1, f)] = 0;
    fclose(f);
    DeleteFileA(file.c_str());
    EXPECT_NE(std::string(buf).find("1005:  FileMove: TO file open failed\r\nOn line 2 of C:\\t\\dlg.kel\r\n"),
              std::string::npos) << buf;
}

TEST_F(ErrorDialog, LanguageFileTranslatesTheDialog) {
    const std::string file = dir_of(kel_dll_path()) + "TLVDLANG.kdlg";
    write_file(file, "[MAIN]\r\nX230=Fehler:\r\nX233=&Weiter\r\nX234=&Ende\r\nX1005=Verschieben fehlgeschlagen~(Ziel)\r\n");
    std::string seenTitle, cont, numbered;
    {
        LanguageSetting lang("kdlg");
        const std::string translated = std::string("Fehler:  ") + st->hostId1;
        User user([&] {
            HWND d = WaitWindow(translated);
            if (!d) return false;
            seenTitle = Text(d);
            cont = Item(d, IDOK);
            numbered = Item(d, IDC_ERR_NUMBERED);
            Press(d, IDOK);
            return true;
        });
        EXPECT_EQ(Decide(1005), 1);
        EXPECT_TRUE(user.Finish());
    }
    DeleteFileA(file.c_str());
    EXPECT_EQ(cont, "&Weiter");
    EXPECT_EQ(numbered, "1005:  Verschieben fehlgeschlagen\n(Ziel)");
}

}  // namespace
