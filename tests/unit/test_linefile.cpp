// The line reader against a plain model of its rules, over random files: every
// encoding, unit-by-unit reading and block sizes from 2 up, lines of every
// length near the limits, and the special units (CR, LF, NUL, Ctrl-Z). Then
// the writer's lines read back under every terminator setting.
#include "fixture.h"
#include "library/files/linefile.h"
#include "library/files/settings.h"
#include <random>
#include <string>
#include <vector>

namespace {

// What the reader must return: lines of units, or a too-long marker (-1).
struct Expect {
    std::vector<std::u16string> lines;
    bool tooLong = false;
};

// The rules written the simple way: a unit at a time.
Expect model(const std::u16string& units, uint32_t limit, int nul, bool ctrlZ) {
    Expect e;
    std::u16string line;
    bool any = false;
    for (char16_t u : units) {
        if (u == u'\n') {
            e.lines.push_back(line);
            line.clear();
            any = false;
            continue;
        }
        if (u == u'\r') continue;
        if (u == 26 && ctrlZ) break;
        if (u == 0) {
            if (nul < 0) continue;
            u = static_cast<char16_t>(nul);
        }
        if (line.size() + 1 >= limit) {
            e.tooLong = true;
            return e;
        }
        line += u;
        any = true;
    }
    if (any) e.lines.push_back(line);
    return e;
}

std::string bytes_of(const std::u16string& units, FileEncoding enc) {
    std::string b;
    for (char16_t u : units) {
        if (enc == FENC_ANSI) b += static_cast<char>(u);
        else if (enc == FENC_UTF16LE) b += static_cast<char>(u & 0xFF), b += static_cast<char>(u >> 8);
        else b += static_cast<char>(u >> 8), b += static_cast<char>(u & 0xFF);
    }
    return b;
}

class TempFile {
public:
    explicit TempFile(const std::string& bytes) {
        wchar_t dir[MAX_PATH], name[MAX_PATH];
        GetTempPathW(MAX_PATH, dir);
        GetTempFileNameW(dir, L"lnf", 0, name);
        path_ = name;
        HANDLE h = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD done = 0;
        if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
        CloseHandle(h);
        h_ = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~TempFile() {
        CloseHandle(h_);
        DeleteFileW(path_.c_str());
    }
    HANDLE get() const { return h_; }

private:
    std::wstring path_;
    HANDLE h_;
};

std::u16string random_units(std::mt19937& rng, FileEncoding enc, size_t n) {
    std::u16string s;
    std::uniform_int_distribution<int> kind(0, 99);
    for (size_t i = 0; i < n; ++i) {
        const int k = kind(rng);
        char16_t u = k < 8 ? u'\n' : k < 12 ? u'\r' : k < 14 ? 0 : k == 14 ? 26 : static_cast<char16_t>('a' + k % 26);
        if (enc != FENC_ANSI && k > 95) u = static_cast<char16_t>(0x100 + k * 37);   // units with a high byte
        s += u;
    }
    return s;
}

TEST(LineReader, MatchesTheRulesOverRandomFiles) {
    std::mt19937 rng(12345);
    const uint32_t blocks[] = {0, 2, 3, 7, 16, 64, 4096};
    for (FileEncoding enc : {FENC_ANSI, FENC_UTF16LE, FENC_UTF16BE}) {
        for (int round = 0; round < 30; ++round) {
            const std::u16string units = random_units(rng, enc, static_cast<size_t>(rng() % 400));
            for (uint32_t block : blocks) {
                for (int nul : {-1, int('_')}) {
                    const bool ctrlZ = (round & 1) != 0;
                    TempFile f(bytes_of(units, enc));
                    LineReader r;
                    ASSERT_TRUE(r.open(f.get(), enc, block, nul, ctrlZ));
                    const Expect e = model(units, block ? block : BYTE_MODE_LIMIT, nul, ctrlZ);
                    size_t i = 0;
                    for (;;) {
                        const LineReader::Status s = r.next();
                        if (s == LineReader::TOO_LONG) {
                            EXPECT_TRUE(e.tooLong) << "block " << block << " round " << round;
                            EXPECT_EQ(i, e.lines.size());
                            break;
                        }
                        if (s == LineReader::END) {
                            EXPECT_FALSE(e.tooLong);
                            EXPECT_EQ(i, e.lines.size()) << "block " << block << " round " << round;
                            break;
                        }
                        ASSERT_EQ(s, LineReader::LINE);
                        ASSERT_LT(i, e.lines.size()) << "block " << block << " round " << round;
                        std::u16string got;
                        for (uint32_t k = 0; k < r.units(); ++k)
                            got += enc == FENC_ANSI ? static_cast<char16_t>(static_cast<const uint8_t*>(r.data())[k])
                                                    : static_cast<const char16_t*>(r.data())[k];
                        EXPECT_TRUE(got == e.lines[i]) << "line " << i << " block " << block << " round " << round;
                        ++i;
                        if (r.atEnd()) {
                            EXPECT_EQ(r.next(), LineReader::END);
                            EXPECT_EQ(i, e.lines.size());
                            break;
                        }
                    }
                }
            }
        }
    }
}

TEST(LineReader, LimitsAreExact) {
    // Unit by unit: 1279 units fit, 1280 do not; a block of 100: 99 fit.
    for (auto [block, fit] : {std::pair<uint32_t, size_t>{0, 1279}, {100, 99}}) {
        for (size_t n : {fit, fit + 1}) {
            TempFile f(std::string(n, 'x') + "\n");
            LineReader r;
            ASSERT_TRUE(r.open(f.get(), FENC_ANSI, block, -1, true));
            EXPECT_EQ(r.next(), n == fit ? LineReader::LINE : LineReader::TOO_LONG) << block << " " << n;
        }
    }
}

class LineWriterTest : public StateFixture {};

TEST_F(LineWriterTest, TerminatorsAndMarks) {
    const char* const kEnds[] = {"", "\r\n", "\n", "\r", "\t"};
    for (uint8_t t = 0; t <= 4; ++t) {
        file_settings(st).terminator = t;
        for (FileEncoding enc : {FENC_ANSI, FENC_UTF16LE, FENC_UTF16BE}) {
            wchar_t dir[MAX_PATH], name[MAX_PATH];
            GetTempPathW(MAX_PATH, dir);
            GetTempFileNameW(dir, L"lnw", 0, name);
            HANDLE h = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            LineWriter w;
            w.open(h, enc, false);
            ASSERT_TRUE(w.write(st, "ab", 2));
            ASSERT_TRUE(w.write(st, L"c", 1));
            CloseHandle(h);
            std::u16string expected = u"ab";
            for (const char* p = kEnds[t]; *p; ++p) expected += static_cast<char16_t>(*p);
            expected += u"c";
            for (const char* p = kEnds[t]; *p; ++p) expected += static_cast<char16_t>(*p);
            std::string bytes = enc == FENC_ANSI ? "" : enc == FENC_UTF16LE ? "\xFF\xFE" : "\xFE\xFF";
            bytes += bytes_of(expected, enc);
            HANDLE r = CreateFileW(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            std::string got(bytes.size() + 16, '\0');
            DWORD n = 0;
            ReadFile(r, &got[0], static_cast<DWORD>(got.size()), &n, nullptr);
            CloseHandle(r);
            DeleteFileW(name);
            got.resize(n);
            EXPECT_EQ(got, bytes) << "terminator " << int(t) << " encoding " << int(enc);
            EXPECT_EQ(w.written(), bytes.size());
        }
    }
}

}  // namespace
