// The block-wise text scans against plain loops: every start alignment,
// lengths around the block sizes, matches at every place, and texts that end
// right before a page that may not be read.
#include <gtest/gtest.h>
#include <windows.h>
#include "textscan.h"
#include <random>
#include <string>
#include <vector>

namespace {

template <class C>
size_t naive_nth(const C* p, size_t n, C c, size_t k, size_t* count) {
    size_t seen = 0, at = SIZE_MAX;
    for (size_t i = 0; i < n; ++i)
        if (p[i] == c && ++seen == k && at == SIZE_MAX) at = i;
    *count = at == SIZE_MAX ? seen : k;
    return at;
}

// Checks text_len, text_find and text_nth on a text placed at every offset
// of a buffer, with the delimiter c spread at random places.
template <class C>
void check_all(unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<C> buf(600);
    for (size_t offset = 0; offset < 70; ++offset) {
        for (size_t len : {0, 1, 15, 16, 17, 31, 63, 64, 65, 127, 130, 200, 300}) {
            const C c = C('|');
            for (size_t i = 0; i < buf.size(); ++i) buf[i] = C('a' + rng() % 3);   // no NUL, no '|'
            C* p = buf.data() + offset;
            for (size_t i = 0; i < len; ++i)
                if (rng() % 7 == 0) p[i] = c;
            p[len] = C(0);
            EXPECT_EQ(text_len(p), len) << "offset " << offset << " len " << len;
            size_t total = 0;
            for (size_t i = 0; i < len; ++i) total += p[i] == c;
            for (size_t k = 1; k <= total + 1; ++k) {
                size_t count, want = naive_nth(p, len, c, k, &count), got;
                const C* hit = text_nth(p, len, c, k, &got);
                EXPECT_EQ(hit ? static_cast<size_t>(hit - p) : SIZE_MAX, want) << "k " << k << " len " << len;
                EXPECT_EQ(got, count);
            }
            size_t all;
            EXPECT_EQ(text_nth(p, len, c, 0, &all), nullptr);
            EXPECT_EQ(all, total);
            const C* first = text_find(p, len, c);
            size_t count;
            EXPECT_EQ(first ? static_cast<size_t>(first - p) : SIZE_MAX, naive_nth(p, len, c, 1, &count));
            // The same through the terminator, without the length; units
            // equal to c after the terminator are not counted.
            p[len + 1] = c;
            for (size_t k = 1; k <= total + 1; ++k) {
                const C* end = nullptr;
                const C* hit = text_nth_z(p, c, k, &end);
                const size_t want = naive_nth(p, len, c, k, &count);
                EXPECT_EQ(hit ? static_cast<size_t>(hit - p) : SIZE_MAX, want) << "z k " << k << " len " << len;
                if (!hit) EXPECT_EQ(end, p + len);
            }
        }
    }
}

TEST(TextScan, AnsiAgainstPlainLoops) { check_all<char>(1); }
TEST(TextScan, WideAgainstPlainLoops) { check_all<wchar_t>(2); }

TEST(TextScan, WideTextAtAnOddAddress) {
    std::vector<char> raw(64, 0);
    wchar_t* w = reinterpret_cast<wchar_t*>(raw.data() + 1);
    const wchar_t text[] = L"ab|cd|e";
    memcpy(w, text, sizeof text);
    EXPECT_EQ(text_len(w), 7u);
    EXPECT_EQ(text_find(w, 7, L'|'), w + 2);
    EXPECT_EQ(text_nth(w, 7, L'|', 2), w + 5);
}

TEST(TextScan, TextEndingBeforeAnUnreadablePage) {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    const size_t page = si.dwPageSize;
    auto* base = static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(base, nullptr);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(base + page, page, PAGE_NOACCESS, &old));
    for (size_t len : {0, 1, 5, 17, 100}) {
        char* s = base + page - len - 1;
        memset(s, 'x', len);
        s[len] = 0;
        if (len > 2) s[len - 2] = ',';
        EXPECT_EQ(text_len(s), len);
        EXPECT_EQ(text_find(s, len, ';'), nullptr);
        const char* end = nullptr;
        EXPECT_EQ(text_nth_z(s, ';', 1, &end), nullptr);
        EXPECT_EQ(end, s + len);
        if (len > 2) EXPECT_EQ(text_nth(s, len, ',', 1), s + len - 2);
        wchar_t* w = reinterpret_cast<wchar_t*>(base + page) - len - 1;
        for (size_t i = 0; i < len; ++i) w[i] = L'y';
        w[len] = 0;
        EXPECT_EQ(text_len(w), len);
        EXPECT_EQ(text_find(w, len, L'z'), nullptr);
        const wchar_t* wend = nullptr;
        EXPECT_EQ(text_nth_z(w, L'z', 2, &wend), nullptr);
        EXPECT_EQ(wend, w + len);
    }
    VirtualFree(base, 0, MEM_RELEASE);
}

// Copies of every length up to 80 at every alignment write exactly the
// bytes asked for: nothing before, nothing after.
TEST(TextScan, CopyExactBytes) {
    unsigned char src[128], dst[128];
    for (int i = 0; i < 128; ++i) src[i] = static_cast<unsigned char>(i * 7 + 1);
    for (size_t from = 0; from < 16; ++from)
        for (size_t to = 0; to < 16; ++to)
            for (size_t n = 0; n <= 80; ++n) {
                memset(dst, 0xEE, sizeof dst);
                text_copy(dst + to, src + from, n);
                for (size_t k = 0; k < sizeof dst; ++k) {
                    const unsigned char want = k >= to && k < to + n ? src[from + k - to] : 0xEE;
                    ASSERT_EQ(dst[k], want) << "from " << from << " to " << to << " n " << n << " at " << k;
                }
            }
}

// Terminated copies at every alignment and length, cut at the buffer size;
// and the buffer compare against strcmp around every block boundary.
TEST(TextScan, CopyTerminatedAndCompareInBuffers) {
    char src[256], dst[256];
    for (size_t from = 0; from < 16; ++from)
        for (size_t len = 0; len < 150; len += (len < 70 ? 1 : 7))
            for (size_t size : {size_t{1}, size_t{16}, len, len + 1, size_t{200}}) {
                if (!size || size > sizeof dst - 1) continue;
                memset(src, 'q', sizeof src);
                src[from + len] = 0;
                memset(dst, 0xEE, sizeof dst);
                text_copy_z(dst, src + from, size);
                const size_t want = len < size - 1 ? len : size - 1;
                ASSERT_EQ(strlen(dst), want) << "from " << from << " len " << len << " size " << size;
                ASSERT_EQ(static_cast<unsigned char>(dst[want + 1]), 0xEE);
            }
    char a[MAX_PATH], b[MAX_PATH];
    for (size_t len : {0, 1, 15, 16, 17, 40, 63, 64, 200, 258})
        for (size_t at = 0; at <= len + 1 && at < MAX_PATH; ++at) {
            memset(a, 'x', sizeof a);
            memset(b, 'y', sizeof b);   // different after the terminator
            memset(a, 'p', len);
            memset(b, 'p', len);
            a[len] = b[len] = 0;
            EXPECT_TRUE(text_equal_in(a, b, MAX_PATH)) << len;
            if (at < len) b[at] = 'Q';
            else if (at == len && len + 1 < MAX_PATH) b[len] = 'p', b[len + 1] = 0;   // b longer
            else continue;
            EXPECT_FALSE(text_equal_in(a, b, MAX_PATH)) << len << " at " << at;
            EXPECT_FALSE(text_equal_in(b, a, MAX_PATH)) << len << " at " << at;
        }
}

}  // namespace
