// The error dialog end to end: kel.exe --dialogs runs a script through the
// library with no report callback, so a real dialog appears; the test finds it
// from outside the process by its title, reads it, presses a button and checks
// what the script did afterwards.
#include <gtest/gtest.h>
#include "kel_dll.h"
#include "resources/resource.h"
#include <string>

namespace {

struct Found {
    DWORD pid;
    HWND dlg;
};

// The visible dialog of process `pid` whose title starts with "Error:".
HWND FindErrorDialog(DWORD pid, int ms = 30000) {
    for (int waited = 0; waited < ms; waited += 100) {
        Found f{pid, nullptr};
        EnumWindows([](HWND w, LPARAM lp) -> BOOL {
            auto* f = reinterpret_cast<Found*>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            char cls[32], title[256];
            GetClassNameA(w, cls, sizeof cls);
            GetWindowTextA(w, title, sizeof title);
            if (owner == f->pid && strcmp(cls, "#32770") == 0 && strncmp(title, "Error:  ", 8) == 0 &&
                IsWindowVisible(w)) {
                f->dlg = w;
                return FALSE;
            }
            return TRUE;
        }, reinterpret_cast<LPARAM>(&f));
        if (f.dlg) return f.dlg;
        Sleep(100);
    }
    return nullptr;
}

struct Outcome {
    DWORD exitCode = 999;
    std::string out;
};

class KelDialogs : public testing::Test {
protected:
    std::string dir, script, outFile;
    PROCESS_INFORMATION pi{};

    void SetUp() override {
        char tmp[MAX_PATH];
        GetTempPathA(sizeof tmp, tmp);
        dir = std::string(tmp) + "kel_dlg_e2e_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir.c_str(), nullptr);
        script = dir + "\\dlg.kel";
        outFile = dir + "\\out.txt";
    }
    void TearDown() override {
        if (pi.hProcess) {
            if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
        DeleteFileA(script.c_str());
        DeleteFileA(outFile.c_str());
        RemoveDirectoryA(dir.c_str());
    }

    // Starts kel.exe --dialogs on `text` with its standard output in a file.
    DWORD Start(const std::string& text) {
        write_file(script, text);
        std::string kel = dir_of(kel_dll_path()) + "kel.exe";
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        HANDLE out = CreateFileA(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = out;
        si.hStdError = out;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::string cmd = "\"" + kel + "\" --dialogs \"" + script + "\"";
        BOOL ok = CreateProcessA(kel.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(), &si, &pi);
        CloseHandle(out);
        EXPECT_TRUE(ok) << kel;
        return ok ? pi.dwProcessId : 0;
    }

    // Starts the script and returns its error dialog (nullptr if none came).
    HWND ShowDialog(const std::string& text) {
        DWORD pid = Start(text);
        return pid ? FindErrorDialog(pid) : nullptr;
    }

    Outcome Finish() {
        Outcome r;
        if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) return r;
        GetExitCodeProcess(pi.hProcess, &r.exitCode);
        FILE* f = fopen(outFile.c_str(), "rb");
        if (f) {
            char buf[4096];
            size_t n = fread(buf, 1, sizeof buf, f);
            r.out.assign(buf, n);
            fclose(f);
        }
        return r;
    }
};

const char kMinor[] =
    "ErrorMode(@NOTIFY)\r\n"
    "a = ArrDimension(1)\r\n"
    "StdOut(\"before\")\r\n"
    "x = a[3]\r\n"
    "StdOut(\"after \" : LastError())\r\n";

TEST_F(KelDialogs, ContinueRunsTheRestOfTheScript) {
    HWND d = ShowDialog(kMinor);
    ASSERT_NE(d, nullptr) << "no error dialog appeared";
    EXPECT_EQ(dlg_item_text(d, IDC_ERR_NUMBERED), "1636:  Array subscript out of bounds");
    EXPECT_EQ(dlg_item_text(d, IDC_ERR_LOCATION), "On line 4 of " + script);
    EXPECT_EQ(dlg_item_text(d, IDC_ERR_STATEMENT), "x = a[3] ");   // a CR LF line keeps its blank
    EXPECT_EQ(dlg_item_text(d, IDOK), "&Continue");
    press_button(d, IDOK);
    Outcome r = Finish();
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, "before\r\nafter 1636\r\n");
}

TEST_F(KelDialogs, FatalErrorShowsTheOneButtonDialogAndStops) {
    HWND d = ShowDialog("ErrorMode(@NOTIFY)\r\nStdOut(\"before\")\r\ny = 1 / 0\r\nStdOut(\"after\")\r\n");
    ASSERT_NE(d, nullptr) << "no error dialog appeared";
    EXPECT_EQ(dlg_item_text(d, IDC_ERR_NUMBERED), "3062:  Attempt to divide by zero");
    EXPECT_EQ(GetDlgItem(d, IDCANCEL), nullptr);           // no Exit/Continue choice
    press_button(d, IDOK);
    Outcome r = Finish();
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, "before\r\n");
}

}  // namespace
