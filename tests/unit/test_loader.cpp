// Script buffer preparation, scrambling, source-location markers, the line
// reader and the parameter split, on real global memory blocks and real files.
#include "fixture.h"
#include "loader.h"
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string temp_dir() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    char dir[MAX_PATH];
    snprintf(dir, sizeof dir, "%skel_loader_%lu", base, GetCurrentProcessId());
    CreateDirectoryA(dir, nullptr);
    return dir;
}

void put_file(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

std::string utf16(const std::wstring& w, bool bigEndian) {
    std::string out = bigEndian ? std::string("\xFE\xFF", 2) : std::string("\xFF\xFE", 2);
    for (wchar_t c : w) {
        char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    out += std::string(2, '\0');
    return out;
}

class Loader : public StateFixture {
protected:
    std::vector<uint32_t> reported;
    std::vector<std::string> details;
    std::vector<HGLOBAL> blocks;

    static int capture(void* ctx, const KelReport* r) {
        auto* self = static_cast<Loader*>(ctx);
        self->reported.push_back(r->errNum);
        self->details.push_back(r->detail ? r->detail : "");
        return 0;
    }
    void SetUp() override {
        StateFixture::SetUp();
        scramble_init();
        st->options = 3;
        st->reportCb = reinterpret_cast<void*>(&capture);
        st->reportCtx = this;
    }
    void TearDown() override {
        for (HGLOBAL h : blocks) GlobalFree(h);
        StateFixture::TearDown();
    }
    HGLOBAL Block(const std::string& bytes, UINT flags = GMEM_MOVEABLE) {
        HGLOBAL h = GlobalAlloc(flags, bytes.size() + 1);
        char* p = static_cast<char*>(GlobalLock(h));
        memcpy(p, bytes.data(), bytes.size());
        p[bytes.size()] = 0;
        GlobalUnlock(h);
        blocks.push_back(h);
        return h;
    }
    // A buffer holding `text` scrambled as if it started at key position `base`.
    HGLOBAL Scrambled(const std::string& text, uint32_t base = 0) {
        HGLOBAL h = Block(text);
        auto* p = static_cast<uint8_t*>(GlobalLock(h));
        scramble_bytes(p, text.size() + 1, base);
        GlobalUnlock(h);
        return h;
    }
    // The whole decoded text of a prepared buffer, up to its terminator.
    std::string Decoded(HGLOBAL h) {
        auto* p = static_cast<const uint8_t*>(GlobalLock(h));
        std::string out;
        for (uint32_t i = 0; i < GlobalSize(h); ++i) {
            uint8_t c = scr_dec(p[i], i);
            if (!c) break;
            out += static_cast<char>(c);
        }
        GlobalUnlock(h);
        return out;
    }
    std::string Prepared(const std::string& bytes, const char* file = "t.kel") {
        HGLOBAL h = Block(bytes);
        EXPECT_TRUE(prepare_buffer(st, &h, file, nullptr));
        blocks.back() = h;
        return Decoded(h);
    }
    // Every line the reader delivers, markers included.
    std::vector<std::string> Lines(HGLOBAL h) {
        std::vector<std::string> out;
        char line[LINE_BUF];
        uint32_t pos = 0, stmt = 0;
        while (read_line(st, h, &pos, line, &stmt) == 1) out.push_back(line);
        return out;
    }
};

// ------------------------------------------------------------ scrambling

TEST(Scramble, TablesAreInversePermutations) {
    scramble_seed(12345);
    bool seen[256] = {};
    for (int c = 0; c < 256; ++c) {
        EXPECT_FALSE(seen[g_scramble[c]]);
        seen[g_scramble[c]] = true;
        EXPECT_EQ(g_unscramble[g_scramble[c]], c);
    }
    uint8_t text[300];
    for (int i = 0; i < 300; ++i) text[i] = static_cast<uint8_t>(i * 7);
    uint8_t enc[300];
    memcpy(enc, text, sizeof enc);
    scramble_bytes(enc, sizeof enc, 0);
    char back[300];
    unscramble_bytes(enc, sizeof enc, 0, back);
    EXPECT_EQ(memcmp(text, back, sizeof text), 0);
    // The same character is stored differently at different positions.
    EXPECT_NE(scr_enc('a', 0), scr_enc('a', 1));
}

// Run as a child process: writes this process's permutation to the file named
// by KEL_SCRAMBLE_OUT.
TEST(Scramble, DISABLED_ChildWritesTable) {
    scramble_init();
    const char* out = getenv("KEL_SCRAMBLE_OUT");
    ASSERT_NE(out, nullptr);
    put_file(out, std::string(reinterpret_cast<const char*>(g_scramble), 256));
}

TEST(Scramble, EachProcessDrawsItsOwnPermutation) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir = temp_dir();
    std::vector<std::string> tables;
    for (int run = 0; run < 2; ++run) {
        std::string out = dir + "\\table" + std::to_string(run) + ".bin";
        DeleteFileA(out.c_str());
        SetEnvironmentVariableA("KEL_SCRAMBLE_OUT", out.c_str());
        std::string cmd = std::string("\"") + exe +
                          "\" --gtest_filter=Scramble.DISABLED_ChildWritesTable --gtest_also_run_disabled_tests";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        WaitForSingleObject(pi.hProcess, 120000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        FILE* f = fopen(out.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        char buf[256];
        ASSERT_EQ(fread(buf, 1, 256, f), 256u);
        fclose(f);
        tables.emplace_back(buf, 256);
    }
    EXPECT_NE(tables[0], tables[1]);
}

TEST_F(Loader, SameSourceScramblesDifferentlyButReadsTheSame) {
    const std::string src = "a = 1\r\nb = a + 1\r\n";
    std::vector<std::string> raw, lines;
    for (uint64_t seed : {1ull, 2ull}) {
        scramble_seed(seed);
        HGLOBAL h = Block(src);
        ASSERT_TRUE(prepare_buffer(st, &h, "t.kel", nullptr));
        auto* p = static_cast<const char*>(GlobalLock(h));
        raw.emplace_back(p, src.size());
        GlobalUnlock(h);
        auto l = Lines(h);
        lines.push_back(l[1] + "|" + l[2]);
    }
    EXPECT_NE(raw[0], raw[1]);
    EXPECT_EQ(lines[0], lines[1]);
    EXPECT_EQ(lines[0], "a = 1 |b = a + 1 ");
}

// ------------------------------------------------------------ preparation

TEST_F(Loader, LineEndsBecomeLineFeedsAndFileGetsMarker) {
    EXPECT_EQ(Prepared("a\r\nb\rc\nd"), marker_line(1, "t.kel") + "a \nb\nc\nd");
    // The marker: ";", 11, "A", "@" and line 1 as "@@@A", then the name.
    EXPECT_EQ(marker_line(1, "t.kel"), std::string(";\x0b" "A@@@@At.kel\n"));
    EXPECT_EQ(Prepared(""), "");   // an empty script stays empty
    EXPECT_TRUE(reported.empty());
}

TEST_F(Loader, Utf16TextRunsLikeItsAnsiEquivalent) {
    std::string ansi = Prepared("x = \"\xE9t\xE9\"\r\ny = 2\r\n");
    EXPECT_EQ(Prepared(utf16(L"x = \"\u00e9t\u00e9\"\r\ny = 2\r\n", false)), ansi);
    EXPECT_EQ(Prepared(utf16(L"x = \"\u00e9t\u00e9\"\r\ny = 2\r\n", true)), ansi);
}

TEST_F(Loader, PreparedBufferIsNotPreparedTwice) {
    HGLOBAL h = Block("a = 1\r\n");
    ASSERT_TRUE(prepare_buffer(st, &h, "t.kel", nullptr));
    std::string once = Decoded(h);
    ASSERT_TRUE(prepare_buffer(st, &h, "t.kel", nullptr));
    EXPECT_EQ(Decoded(h), once);
    // Plain text that already carries a marker is only scrambled.
    std::string marked = marker_line(5, "x.kel") + "b = 2\n";
    EXPECT_EQ(Prepared(marked), marked);
}

TEST_F(Loader, FixedBlockThatMustGrowStillPrepares) {
    HGLOBAL h = Block("a\nb\n", GMEM_FIXED);
    HGLOBAL before = h;
    ASSERT_TRUE(prepare_buffer(st, &h, "t.kel", nullptr));
    if (h != before) blocks.push_back(h);   // a private copy
    EXPECT_EQ(Decoded(h), marker_line(1, "t.kel") + "a\nb\n");
}

// ------------------------------------------------------------ #include

class Includes : public Loader {
protected:
    std::string dir;
    void SetUp() override {
        Loader::SetUp();
        dir = temp_dir();
    }
    std::string Path(const std::string& name) { return dir + "\\" + name; }
    int Expand(std::string& text, std::string* fail = nullptr) {
        std::string f;
        int rc = prep_expand(st, text, Path("main.kel").c_str(), dir.c_str(), true, &f);
        if (fail) *fail = f;
        return rc;
    }
};

TEST_F(Includes, IndentedIncludeIsExpandedWithMarkers) {
    put_file(Path("inc1.kel"), "i = 1\r\nj = 2");
    std::string text = "a = 1\n  \t#include \"inc1.kel\"\nb = 2\nc = 3 ; #include \"inc1.kel\"\n";
    ASSERT_EQ(Expand(text), 0);
    std::string inc = Path("inc1.kel");
    std::string main = Path("main.kel");
    EXPECT_EQ(text, marker_line(1, main) + "a = 1\n" + marker_line(1, inc) + "i = 1 \nj = 2\n" +
                        marker_line(3, main) + "b = 2\nc = 3 ; #include \"inc1.kel\"\n");
}

TEST_F(Includes, QuoteKindsUnquotedNamesAndBadLines) {
    put_file(Path("q.kel"), "q\n");
    const std::string q = marker_line(1, Path("q.kel")) + "q\n";
    struct Case {
        const char* line;
        int rc;
        std::string want;   // text that the expansion holds, or the name that failed
    };
    const Case cases[] = {
        {"#include 'q.kel'", 0, q},
        {"#include `q.kel`", 0, q},
        {"#include q.kel", 0, q},
        {"#include\tq.kel  ", 0, q},
        {"#includeq.kel", 0, marker_line(1, Path("main.kel")) + "#includeq.kel\n"},   // no include line
        {"#include \"nope.kel\"", 217, "nope.kel"},
        {"#include \"open.kel", 217, "open.kel"},
        {"#include q.kel extra", 217, "q.kel extra"},
    };
    for (const Case& c : cases) {
        std::string text = std::string(c.line) + "\n", fail;
        EXPECT_EQ(Expand(text, &fail), c.rc) << c.line;
        if (c.rc) EXPECT_EQ(fail, c.want) << c.line;
        else EXPECT_NE(text.find(c.want), std::string::npos) << c.line;
    }
}

TEST_F(Includes, SixteenLevelsWorkSeventeenFail) {
    // levelN.kel includes levelN+1.kel; the last one holds a statement.
    auto chain = [&](int files) {
        for (int k = 1; k <= files; ++k) {
            std::string body = k < files ? "#include \"level" + std::to_string(k + 1) + ".kel\"\n" : "deep = 1\n";
            put_file(Path("level" + std::to_string(k) + ".kel"), body);
        }
    };
    chain(15);   // main + 15 included files: 16 levels
    std::string text = "#include \"level1.kel\"\n";
    EXPECT_EQ(Expand(text), 0);
    EXPECT_NE(text.find("deep = 1"), std::string::npos);
    chain(16);   // 17 levels
    text = "#include \"level1.kel\"\n";
    EXPECT_EQ(Expand(text), 218);
}

TEST_F(Includes, IncludeProcessingCanBeSwitchedOff) {
    st->options = 0;
    std::string text = Prepared("#include \"missing.kel\"\n", "m.kel");
    EXPECT_EQ(text, marker_line(1, "m.kel") + "#include \"missing.kel\"\n" + marker_line(2, "m.kel"));
    EXPECT_TRUE(reported.empty());
}

TEST_F(Includes, SourceLocationFollowsMarkers) {
    put_file(Path("inc2.kel"), "i1\ni2\ni3\n");
    HGLOBAL h = Block("m1\n#include \"inc2.kel\"\nm3\n#DefineFunction f()\nm5\n");
    ASSERT_TRUE(prepare_buffer(st, &h, Path("main.kel").c_str(), dir.c_str()));
    blocks.back() = h;
    std::string text = Decoded(h);
    auto where = [&](const std::string& needle) {
        uint32_t pos = static_cast<uint32_t>(text.find(needle));
        char file[MAX_PATH];
        uint32_t line = 0;
        EXPECT_TRUE(source_location(st, h, pos + 1, file, sizeof file, &line));
        return std::string(file) + ":" + std::to_string(line);
    };
    EXPECT_EQ(where("m1"), Path("main.kel") + ":1");
    EXPECT_EQ(where("i1"), Path("inc2.kel") + ":1");
    EXPECT_EQ(where("i3"), Path("inc2.kel") + ":3");
    EXPECT_EQ(where("m3"), Path("main.kel") + ":3");
    EXPECT_EQ(where("m5"), Path("main.kel") + ":5");
}

TEST(Markers, LineNumbersRoundTrip) {
    for (uint32_t line : {1u, 63u, 64u, 4096u, 0xFFFFFFu}) {
        std::string m = marker_line(line, "f.kel");
        uint32_t back = 0;
        std::string file;
        size_t len = 0;
        ASSERT_TRUE(marker_parse(m.data(), m.size(), &back, &file, &len));
        EXPECT_EQ(back, line);
        EXPECT_EQ(file, "f.kel");
        EXPECT_EQ(len, m.size());
    }
    EXPECT_FALSE(marker_parse("; a comment\n", 12, nullptr, nullptr, nullptr));
}

// ------------------------------------------------------------ line reader

TEST_F(Loader, ReaderSkipsLeadingBlanksAndReportsStatementPosition) {
    HGLOBAL h = Scrambled("  \tabc\n\nx\x1ay\n");

    char line[LINE_BUF];
    uint32_t pos = 0, stmt = 0;
    ASSERT_EQ(read_line(st, h, &pos, line, &stmt), 1);
    EXPECT_STREQ(line, "abc");
    EXPECT_EQ(stmt, 3u);
    EXPECT_EQ(pos, 7u);
    ASSERT_EQ(read_line(st, h, &pos, line, &stmt), 1);
    EXPECT_STREQ(line, "");
    ASSERT_EQ(read_line(st, h, &pos, line, &stmt), 1);
    EXPECT_STREQ(line, "x");   // 26 ends a line too
    ASSERT_EQ(read_line(st, h, &pos, line, &stmt), 1);
    EXPECT_STREQ(line, "y");
    EXPECT_EQ(read_line(st, h, &pos, line, &stmt), 0);
    EXPECT_EQ(read_line(st, h, &pos, line, &stmt), 0);
    EXPECT_EQ(st->pendingLineTooLong, 0);
}

// Lines ending in a line feed alone (CR LF ends: loading/long_lines.kel): 2048
// characters fit; a longer line is cut, marked, and its rest is no line of
// its own.
TEST_F(Loader, LongLines) {
    for (size_t n : {2048, 2049, 5000}) {
        st->pendingLineTooLong = 0;
        HGLOBAL h = Block(std::string(n, 'a') + "\nnext\n");
        ASSERT_TRUE(prepare_buffer(st, &h, "t.kel", nullptr));
        blocks.back() = h;
        const auto lines = Lines(h);
        ASSERT_EQ(lines.size(), 3u) << n;
        EXPECT_EQ(lines[1], std::string(2048, 'a')) << n;
        EXPECT_EQ(st->pendingLineTooLong, n > 2048 ? 1 : 0) << n;
        EXPECT_EQ(lines[2], "next") << n;
    }
}

TEST_F(Loader, ReaderHonoursKeyBase) {
    // A function body copied out of a buffer keeps the positions it had there.
    HGLOBAL h = Scrambled("ret = 5\n", 1000);
    char line[LINE_BUF];
    uint32_t pos = 0, stmt = 0;
    ASSERT_EQ(read_line(st, h, &pos, line, &stmt, 1000), 1);
    EXPECT_STREQ(line, "ret = 5");
}

// ------------------------------------------------------------ parameters

TEST(Params, WordsSplitAtBlanksAndQuotesKeepThem) {
    auto w = param_words("one  \"two three\"\t'it''s' `b`  \"\" plain'quote x\"y");
    std::vector<std::string> want = {"one", "two three", "it's", "b", "", "plain'quote", "x\"y"};
    EXPECT_EQ(w, want);
    EXPECT_TRUE(param_words("   ").empty());
    EXPECT_EQ(param_words("\"open ended"), std::vector<std::string>{"open ended"});
    auto ww = param_words(L"\u00e9 \"a b\"");
    ASSERT_EQ(ww.size(), 2u);
    EXPECT_EQ(ww[0], L"\u00e9");
    EXPECT_EQ(ww[1], L"a b");
}

}  // namespace
