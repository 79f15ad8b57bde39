// The string heap allocator: block sizes, splitting, merging, growth, damage
// detection, and a long randomised run checked against the heap invariants.
#include <gtest/gtest.h>
#include "heap.h"
#include "state.h"
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_boxes;
void capture_box(const char* title, const char* text) { g_boxes.push_back(std::string(title) + "|" + text); }

// A zeroed interpreter state and a reserved region, formatted by heap_init.
class Heap : public testing::Test {
protected:
    static constexpr uint64_t RESERVE = 64ull << 20;
    HGLOBAL stateMem = nullptr;
    State* st = nullptr;
    uint8_t* region = nullptr;

    void SetUp() override { Format(RESERVE, 65536); }
    void TearDown() override {
        Discard();
        g_heapBoxHook = nullptr;
    }
    void Format(uint64_t reserve, uint64_t initial) {
        Discard();
        stateMem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, STATE_SIZE);
        st = static_cast<State*>(GlobalLock(stateMem));
        region = static_cast<uint8_t*>(VirtualAlloc(nullptr, reserve, MEM_RESERVE, PAGE_NOACCESS));
        ASSERT_NE(region, nullptr);
        ASSERT_TRUE(heap_init(st, region, reserve, initial));
        g_boxes.clear();
        g_heapBoxHook = capture_box;
    }
    void Discard() {
        if (region) VirtualFree(region, 0, MEM_RELEASE);
        if (stateMem) {
            GlobalUnlock(stateMem);
            GlobalFree(stateMem);
        }
        region = nullptr;
        stateMem = nullptr;
    }

    uint64_t Word(uint64_t off) const {
        uint64_t v;
        memcpy(&v, st->heapBase + off, 8);
        return v;
    }
    std::string Tag(uint64_t off) const { return std::string(reinterpret_cast<char*>(st->heapBase + off), 4); }
    uint64_t BlockSize(uint64_t handle) const { return Word(handle - 16 + 8); }
    // Free blocks in list order, starting after the anchor.
    std::vector<uint64_t> FreeList() const {
        std::vector<uint64_t> v;
        for (uint64_t p = Word(16); p != 0 && v.size() < 100000; p = Word(p + 16)) v.push_back(p);
        return v;
    }
    void ExpectConsistent() {
        char why[160] = "";
        EXPECT_TRUE(heap_check(st, why, sizeof why)) << why;
    }
};

TEST_F(Heap, FormatHasHeaderOneFreeBlockAndEndMarker) {
    EXPECT_EQ(Word(16), 80u);                      // anchor's next
    EXPECT_EQ(Word(24), 80u);                      // anchor's previous
    EXPECT_EQ(Word(56), 80u);                      // rover
    EXPECT_EQ(Tag(80), "QRST");
    EXPECT_EQ(Word(88), 65536u - 28 - 80);
    EXPECT_EQ(st->heapEnd, 65536u - 28);
    EXPECT_EQ(Tag(st->heapEnd), "5678");
    EXPECT_EQ(st->heapCommitted, 65536u);
    ExpectConsistent();
}

TEST_F(Heap, RequestSizesRoundToBlocksOfAtLeast52) {
    struct { uint64_t bytes, block; } cases[] = {{0, 52}, {1, 52}, {28, 52}, {29, 56}, {32, 56}, {33, 60}, {1000, 1024}};
    for (auto c : cases) {
        uint64_t h = VMalloc(st, c.bytes);
        ASSERT_NE(h, 0u);
        EXPECT_EQ(BlockSize(h), c.block) << c.bytes << " bytes";
        EXPECT_EQ(Tag(h - 16), "5678");
        EXPECT_EQ(Tag(h - 16 + c.block - 8), "5678");
        memset(heap_ptr(st, h), 0xAB, c.bytes);    // the whole request is usable
        ExpectConsistent();
    }
}

TEST_F(Heap, SplitKeepsTheFrontFreeAndHandsOutTheBack) {
    uint64_t h = VMalloc(st, 100);
    uint64_t end = st->heapEnd;
    EXPECT_EQ(h - 16 + BlockSize(h), end);         // allocated part touches the end marker
    EXPECT_EQ(Tag(80), "QRST");
    EXPECT_EQ(Word(88), end - 80 - BlockSize(h));
    EXPECT_EQ(Tag(80 + Word(88) - 8), "QRST");
}

TEST_F(Heap, ARemainderOf51TakesTheWholeBlockAnd52Splits) {
    // An odd-sized region gives a free block of 65535-28-80 = 65427 bytes.
    Format(RESERVE, 65535);
    uint64_t whole = 65427;
    ASSERT_EQ(Word(88), whole);
    uint64_t h = VMalloc(st, whole - 51 - 24);     // needed = whole - 51
    EXPECT_EQ(h, 96u);
    EXPECT_EQ(BlockSize(h), whole);
    EXPECT_TRUE(FreeList().empty());
    EXPECT_EQ(Word(56), 0u);                       // the rover was this block
    ExpectConsistent();

    Format(RESERVE, 65536);                        // free block of 65428
    h = VMalloc(st, 65428 - 52 - 24);              // remainder exactly 52
    EXPECT_EQ(h, 80u + 52 + 16);
    EXPECT_EQ(Word(88), 52u);
    ExpectConsistent();
}

TEST_F(Heap, AdjacentBlocksMergeInEitherOrder) {
    for (int order = 0; order < 2; order++) {
        Format(RESERVE, 65536);
        // Blocks are cut from the back of the free block: guards on both sides.
        uint64_t back = VMalloc(st, 40), b = VMalloc(st, 200), a = VMalloc(st, 300), front = VMalloc(st, 40);
        ASSERT_TRUE(back && a && b && front);
        ASSERT_EQ(a - 16 + BlockSize(a), b - 16); // a lies directly before b
        uint64_t total = BlockSize(a) + BlockSize(b);
        if (order == 0) {
            VFree(st, a);
            VFree(st, b);
        } else {
            VFree(st, b);
            VFree(st, a);
        }
        std::vector<uint64_t> list = FreeList();
        ASSERT_EQ(list.size(), 2u) << "order " << order;
        EXPECT_EQ(list[0], a - 16);                // released blocks go to the front
        EXPECT_EQ(Word(a - 16 + 8), total);
        EXPECT_TRUE(g_boxes.empty());
        ExpectConsistent();
    }
}

TEST_F(Heap, ABlockBeforeTheEndMarkerDoesNotMergePastIt) {
    uint64_t last = VMalloc(st, 60);
    VMalloc(st, 60);
    uint64_t end = st->heapEnd, size = BlockSize(last);
    VFree(st, last);
    EXPECT_EQ(Word(last - 16 + 8), size);
    EXPECT_EQ(st->heapEnd, end);
    EXPECT_EQ(Tag(end), "5678");
    ExpectConsistent();
}

TEST_F(Heap, EverythingReleasedMergesBackIntoOneBlock) {
    std::vector<uint64_t> hs;
    for (int i = 0; i < 50; i++) hs.push_back(VMalloc(st, 10 + i * 7));
    for (size_t i = 0; i < hs.size(); i += 2) VFree(st, hs[i]);
    for (size_t i = 1; i < hs.size(); i += 2) VFree(st, hs[i]);
    std::vector<uint64_t> list = FreeList();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], 80u);
    EXPECT_EQ(Word(88), st->heapEnd - 80);
    ExpectConsistent();
}

TEST_F(Heap, GrowsByCommittingPagesAndMergesWithTheLastFreeBlock) {
    uint64_t oldEnd = st->heapEnd, oldCommitted = st->heapCommitted;
    uint64_t h = VMalloc(st, 100000);
    ASSERT_NE(h, 0u);
    uint64_t needed = (100000 + 27) & ~3ull;
    EXPECT_EQ(st->heapEnd, oldEnd + needed + 32744);
    EXPECT_EQ(st->heapCommitted, (oldCommitted + needed + 32768 + 4095) / 4096 * 4096);
    EXPECT_EQ(BlockSize(h), needed);
    memset(heap_ptr(st, h), 0x5A, 100000);
    // The old free block and the new one became one block, split for h.
    std::vector<uint64_t> list = FreeList();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], 80u);
    EXPECT_EQ(Word(88) + needed, st->heapEnd - 80);
    EXPECT_TRUE(g_boxes.empty());
    ExpectConsistent();
}

TEST_F(Heap, GrowthBeyondTheReservationFailsSilently) {
    Format(128 * 1024, 65536);
    EXPECT_EQ(VMalloc(st, 200000), 0u);
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_EQ(st->heapCommitted, 65536u);
    EXPECT_NE(VMalloc(st, 1000), 0u);              // the heap still works
    EXPECT_EQ(VMalloc(st, 1ull << 62), 0u);        // absurd sizes do not wrap around
    ExpectConsistent();
}

// Damage found by VFree is reported in a box and the block is left as it was:
// "Tag Overwrite 2" at or after the block's end, "Tag Overwrite 1" at or
// before its start (a block released twice looks the same).
TEST_F(Heap, DamageIsReportedAndTheBlockKept) {
    const std::pair<const char*, const char*> cases[] = {
        {"write past the end", "Tag Overwrite 2"},
        {"write over the block before", "Tag Overwrite 1"},
        {"released twice", "Tag Overwrite 1"},
    };
    for (int k = 0; k < 3; ++k) {
        Format(RESERVE, 65536);
        VMalloc(st, 20);                       // a block after h (blocks are cut from the back)
        const uint64_t h = VMalloc(st, 20);
        VMalloc(st, 20);                       // and one before it
        if (k == 0) memcpy(heap_ptr(st, h) + BlockSize(h) - 24, "oops", 4);   // h's tail tag
        if (k == 1) memcpy(heap_ptr(st, h) - 24, "junk", 4);                  // the tail tag before h
        if (k == 2) VFree(st, h);
        ASSERT_TRUE(g_boxes.empty());
        VFree(st, h);
        ASSERT_EQ(g_boxes.size(), 1u) << cases[k].first;
        EXPECT_EQ(g_boxes[0], std::string("INTERNAL DYNALLOC ERROR|") + cases[k].second) << cases[k].first;
        if (k < 2) EXPECT_EQ(Tag(h - 16), "5678") << cases[k].first;   // not released
        else ExpectConsistent();
    }
}

TEST_F(Heap, StringCopiesAreTerminated) {
    uint64_t h = heap_strdup(st, "hello world", 5);
    EXPECT_STREQ(heap_ptr(st, h), "hello");
    uint64_t w = heap_wstrdup(st, L"wide text", 4);
    EXPECT_STREQ(heap_wptr(st, w), L"wide");
    uint64_t e = heap_strdup(st, nullptr, 0);
    EXPECT_STREQ(heap_ptr(st, e), "");
}

// Random allocations and releases, every live block filled with its own byte
// pattern. After each operation the heap walker checks tags, sizes, the free
// list and the rover; on release the pattern must be intact.
TEST_F(Heap, RandomisedRunKeepsEveryInvariant) {
    struct Live {
        uint64_t h, bytes;
        uint8_t fill;
    };
    std::mt19937 rng(12345);
    std::vector<Live> live;
    char why[160] = "";
    const int OPS = 120000;
    int grown = 0;
    for (int op = 0; op < OPS; op++) {
        bool alloc = live.empty() || (live.size() < 600 && rng() % 100 < 55);
        if (alloc) {
            uint32_t r = rng() % 100;
            uint64_t bytes = r < 70 ? rng() % 64 : r < 95 ? rng() % 2000 : rng() % 60000;
            uint64_t committed = st->heapCommitted;
            uint64_t h = VMalloc(st, bytes);
            ASSERT_NE(h, 0u) << "op " << op;
            grown += st->heapCommitted != committed;
            ASSERT_GE(BlockSize(h), bytes + 24);
            uint8_t fill = static_cast<uint8_t>(rng());
            memset(heap_ptr(st, h), fill, bytes);
            live.push_back({h, bytes, fill});
        } else {
            size_t i = rng() % live.size();
            const Live& l = live[i];
            const uint8_t* p = reinterpret_cast<uint8_t*>(heap_ptr(st, l.h));
            for (uint64_t k = 0; k < l.bytes; k++) ASSERT_EQ(p[k], l.fill) << "op " << op;
            VFree(st, l.h);
            live[i] = live.back();
            live.pop_back();
        }
        ASSERT_TRUE(heap_check(st, why, sizeof why)) << "op " << op << ": " << why;
    }
    for (const Live& l : live) VFree(st, l.h);
    ASSERT_TRUE(heap_check(st, why, sizeof why)) << why;
    EXPECT_EQ(FreeList().size(), 1u);
    EXPECT_GT(grown, 0);                           // the run exercised growth
    EXPECT_TRUE(g_boxes.empty());
}

}  // namespace
