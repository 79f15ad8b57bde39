// The overwrite confirmation of FileCopy and FileMove as a user meets it: the
// real "Confirm File Replace" dialog, driven from a second thread. Overwrite
// All is asked once per call, Skip leaves the target, Use Newer decides by
// the times, and Cancel stops the call with 9999.
#include "fixture.h"
#include "kel_dll.h"
#include "ui_user.h"
#include "resources/resource.h"
#include <string>
#include <vector>

namespace {

const char kTitle[] = "Confirm File Replace";

std::string Slurp(const std::string& path) {
    std::string s;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char buf[256];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
        fclose(f);
    }
    return s;
}

void Put(const std::string& path, const std::string& text, int ageSeconds) {
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER u{{now.dwLowDateTime, now.dwHighDateTime}};
    u.QuadPart -= static_cast<uint64_t>(ageSeconds) * 10000000ULL;
    FILETIME t{u.LowPart, u.HighPart};
    SetFileTime(h, nullptr, nullptr, &t);
    CloseHandle(h);
}

class FileWarn : public ScriptFixture {
protected:
    std::string dir, src, dst;

    void SetUp() override {
        ScriptFixture::SetUp();
        ASSERT_NE(use_kel_resources(), nullptr) << "the library must be built: " << kel_dll_path();
        st->reportCb = nullptr;   // the dialog is shown, not handed to a host
        char tmp[MAX_PATH];
        GetTempPathA(MAX_PATH, tmp);
        dir = std::string(tmp) + "kel_filewarn_" + std::to_string(GetCurrentProcessId());
        src = dir + "\\src";
        dst = dir + "\\dst";
        CreateDirectoryA(dir.c_str(), nullptr);
        CreateDirectoryA(src.c_str(), nullptr);
        CreateDirectoryA(dst.c_str(), nullptr);
        // Sources are newer than the targets except c.txt.
        for (const char* n : {"a", "b", "c"}) {
            const bool older = n[0] == 'c';
            Put(src + "\\" + n + ".txt", std::string("new ") + n, older ? 7200 : 60);
            Put(dst + "\\" + n + ".txt", std::string("old ") + n, 3600);
        }
    }
    void TearDown() override {
        for (const std::string& d : {src, dst}) {
            for (const char* n : {"a", "b", "c"}) DeleteFileA((d + "\\" + n + ".txt").c_str());
            RemoveDirectoryA(d.c_str());
        }
        RemoveDirectoryA(dir.c_str());
        ScriptFixture::TearDown();
    }
    // Runs FileCopy of all sources with warning on; `done` becomes 1 after it.
    int Copy() {
        return Run("FileCopy(\"" + src + "\\*.txt\", \"" + dst + "\", @TRUE)\ndone = 1\n");
    }
    std::string Target(char n) { return Slurp(dst + "\\" + n + ".txt"); }
    bool Done() { return find_var(st, "done", 0) >= 0; }
};

// Answers each dialog with the next button of `answers`; collects the
// "Replace file:" names; after the last answer, waits to see that no further
// dialog comes.
User Answer(const std::vector<int>& answers, std::vector<std::string>* names) {
    return User([answers, names] {
        for (int id : answers) {
            HWND d = WaitWindow(kTitle);
            if (!d) return false;
            names->push_back(dlg_item_text(d, IDC_FW_TARGET) + " | " + dlg_item_text(d, IDC_FW_SOURCE));
            press_button(d, id);
            WaitGone(d);
        }
        return WaitWindow(kTitle, 1500) == nullptr;
    });
}

TEST_F(FileWarn, OverwriteAllAsksOnce) {
    std::vector<std::string> names;
    User user = Answer({IDC_FW_ALL}, &names);
    Copy();
    ASSERT_TRUE(user.Finish()) << "a dialog was missing or one too many came";
    EXPECT_TRUE(Done());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], dst + "\\a.txt | " + src + "\\a.txt");
    EXPECT_EQ(Target('a'), "new a");
    EXPECT_EQ(Target('b'), "new b");
    EXPECT_EQ(Target('c'), "new c");
}

TEST_F(FileWarn, SkipOverwriteAndNewerPerFile) {
    std::vector<std::string> names;
    User user = Answer({IDC_FW_SKIP, IDC_FW_OVERWRITE, IDC_FW_NEWER}, &names);
    Copy();
    ASSERT_TRUE(user.Finish());
    EXPECT_EQ(names.size(), 3u);
    EXPECT_EQ(Target('a'), "old a");
    EXPECT_EQ(Target('b'), "new b");
    EXPECT_EQ(Target('c'), "old c");   // the source is older
}

TEST_F(FileWarn, OlderAllDecidesTheRest) {
    std::vector<std::string> names;
    User user = Answer({IDC_FW_OLDERALL}, &names);
    Copy();
    ASSERT_TRUE(user.Finish());
    EXPECT_EQ(Target('a'), "old a");
    EXPECT_EQ(Target('b'), "old b");
    EXPECT_EQ(Target('c'), "new c");
}

TEST_F(FileWarn, CancelStopsTheCall) {
    std::vector<std::string> names;
    User user = Answer({IDC_FW_OVERWRITE, IDCANCEL}, &names);
    Copy();
    ASSERT_TRUE(user.Finish());
    EXPECT_FALSE(Done());
    EXPECT_EQ(Target('a'), "new a");
    EXPECT_EQ(Target('b'), "old b");
    EXPECT_EQ(Target('c'), "old c");
}

}  // namespace
