// Binary buffers: a long random run of buffer operations through the
// dispatcher that must never write outside a buffer (guard bytes around every
// buffer), the exported UncompressBuffer, held buffers and the tear-down.
#include "fixture.h"
#include "dispatch.h"
#include "keywords.h"
#include "interop/binary/binbuf.h"
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

extern "C" int64_t DLLServices(HGLOBAL state, int request, void* p1, void* p2, int64_t n, int64_t n2);

namespace {

constexpr size_t kGuard = 16;

class Binary : public StateFixture {
protected:
    Cell args[6];
    Cell result;
    int nargs = 0;

    void SetUp() override {
        StateFixture::SetUp();
        binbuf_set_guard(kGuard);
        for (Cell& c : args) cell_init(&c);
        cell_init(&result);
    }
    void TearDown() override {
        Reset();
        binbuf_teardown(st);
        binbuf_set_guard(0);
        StateFixture::TearDown();
    }
    void Reset() {
        for (Cell& c : args) cell_release(st, &c, CM_BARE), cell_init(&c);
        cell_release(st, &result, CM_BARE);
        cell_init(&result);
        nargs = 0;
        st->err = 0;
        err_detail_free(st);
    }
    void Int(int64_t v) {
        Cell& c = args[++nargs];
        if (v >= INT32_MIN && v <= INT32_MAX) cell_set_int(st, &c, static_cast<int32_t>(v));
        else cell_set_int64(st, &c, v);
    }
    void Str(const std::string& s) { ASSERT_TRUE(cell_set_str(st, &args[++nargs], s.data(), s.size())); }
    // Calls a built-in by id with the arguments given so far, converted by
    // its keyword record; returns the error number (0 on success).
    int Call(uint32_t id) {
        const KeywordRec* k = kw_record(st, id);
        return dispatch(st, k->name, id, &result, args, false, nargs, k->argTypes);
    }
    int32_t Alloc(int64_t size) {
        Reset();
        Int(size);
        EXPECT_EQ(Call(KW_BINARYALLOC), 0);
        return result.i;
    }
};

// One random operation: a function of the family with arguments drawn near
// the boundaries of the buffers (and past them), including handles that are
// not buffers.
class RandomOps {
public:
    explicit RandomOps(uint32_t seed) : rng_(seed) {}

    int64_t Pick(int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng_); }
    bool Chance(int percent) { return Pick(1, 100) <= percent; }

    // An offset or count: mostly around 0 and the sizes in use, sometimes huge.
    int64_t Number() {
        switch (Pick(0, 9)) {
        case 0: return Pick(-3, 3);
        case 1: return -1;
        case 2: return INT64_MAX - Pick(0, 8);
        case 3: return INT64_MIN + Pick(0, 8);
        case 4: return 0x7FFFFFFF + Pick(-2, 2);
        default: return Pick(-4, 72);
        }
    }
    std::string Text() {
        static const char* words[] = {"", "a", "ab", "abc", "A", "00", "FF", "deadBEEF", "xyz", "<b>", "</b>",
                                      "0123456789abcdef0123456789abcdef0123456789abcdef0123456789ABCDEFG"};
        return words[Pick(0, 11)];
    }

private:
    std::mt19937 rng_;
};

struct Op {
    uint32_t id;
    const char* shape;   // one letter per argument: h handle, n number, s text, t tag structure
};

const Op kOps[] = {
    {KW_BINARYALLOC, "n"}, {KW_BINARYFREE, "h"}, {KW_BINARYBUFINFO, "hn"}, {KW_BINARYEODGET, "h"},
    {KW_BINARYEODSET, "hn"}, {KW_BINARYPEEK, "hn"}, {KW_BINARYPEEK2, "hn"}, {KW_BINARYPEEK4, "hn"},
    {KW_BINARYPEEK8, "hn"}, {KW_BINARYPEEKFLT, "hn"}, {KW_BINARYPOKE, "hnn"}, {KW_BINARYPOKE2, "hnn"},
    {KW_BINARYPOKE4, "hnn"}, {KW_BINARYPOKE8, "hnn"}, {KW_BINARYPOKEFLT, "hnn"}, {KW_BINARYINCR, "hn"},
    {KW_BINARYINCR2, "hn"}, {KW_BINARYINCR4, "hn"}, {KW_BINARYINCRFLT, "hn"}, {KW_BINARYPEEKSTR, "hnn"},
    {KW_BINARYPOKESTR, "hns"}, {KW_BINARYPEEKSTRW, "hnnn"}, {KW_BINARYPOKESTRW, "hnsn"},
    {KW_BINARYPEEKHEX, "hnn"}, {KW_BINARYPOKEHEX, "hns"}, {KW_BINARYINDEX, "hnsn"}, {KW_BINARYINDEXNC, "hnsn"},
    {KW_BINARYINDEXEX, "hnsnn"}, {KW_BINARYINDEXBIN, "hnhnn"}, {KW_BINARYSTRCNT, "hnns"},
    {KW_BINARYREPLACE, "hssn"}, {KW_BINARYCOPY, "hnhnn"}, {KW_BINARYCOMPARE, "hnhnn"}, {KW_BINARYAND, "hnhnn"},
    {KW_BINARYOR, "hnhnn"}, {KW_BINARYXOR, "hnhnn"}, {KW_BINARYCOMP, "hhn"}, {KW_BINARYUNCOMP, "hh"},
    {KW_BINARYCHECKSUM, "hn"}, {KW_BINARYSORT, "hnnnn"}, {KW_BINARYHASHREC, "hnnns"},
    {KW_BINARYCONVERT, "hnnnn"}, {KW_BINARYXLATE, "hhn"}, {KW_BINARYOLETYPE, "hnnnn"},
    {KW_BINARYTAGINIT, "hss"}, {KW_BINARYTAGFIND, "t"}, {KW_BINARYTAGEXTR, "tn"}, {KW_BINARYTAGINDEX, "tn"},
    {KW_BINARYTAGLEN, "tn"}, {KW_BINARYTAGREPL, "ts"},
};

TEST_F(Binary, GuardBytesNoticeAWritePastTheEnd) {
    const int32_t h = Alloc(8);
    ASSERT_TRUE(binbuf_guards_intact(st));
    BinSlot* b = binbuf_get(st, h);
    b->addr[8] = 1;   // one byte past the end
    EXPECT_FALSE(binbuf_guards_intact(st));
    b->addr[8] = 0xA5;
    b->addr[-1] = 0;   // one byte before the start
    EXPECT_FALSE(binbuf_guards_intact(st));
    b->addr[-1] = 0xA5;
    EXPECT_TRUE(binbuf_guards_intact(st));
}

TEST_F(Binary, RandomOperationsNeverWriteOutsideABuffer) {
    RandomOps r(20240611);
    std::vector<int32_t> live;
    std::string tags;   // the last tag structure produced
    int failures = 0, done = 0;
    for (int i = 0; i < 100000; ++i) {
        Reset();
        const Op& op = kOps[r.Pick(0, sizeof kOps / sizeof kOps[0] - 1)];
        // Keep a working set of buffers; allocations are small so that the
        // boundaries are met often.
        if (live.size() < 3 || (op.id == KW_BINARYALLOC && live.size() < 40)) {
            const int32_t h = Alloc(r.Chance(10) ? 0 : r.Pick(1, 64));
            if (h) live.push_back(h);
            if (op.id == KW_BINARYALLOC) continue;
            Reset();
        }
        for (const char* a = op.shape; *a; ++a) {
            switch (*a) {
            case 'h':
                Int(r.Chance(95) ? live[static_cast<size_t>(r.Pick(0, static_cast<int64_t>(live.size()) - 1))]
                                 : BINBUF_BASE + r.Pick(-2, MAX_BINBUF + 1));
                break;
            case 'n': Int(r.Number()); break;
            case 's': Str(r.Text()); break;
            default: Str(r.Chance(80) ? tags : r.Text()); break;
            }
        }
        const int e = Call(op.id);
        e ? ++failures : ++done;
        const bool makesTags = op.id == KW_BINARYTAGINIT || op.id == KW_BINARYTAGFIND || op.id == KW_BINARYTAGREPL;
        if (!e && makesTags && (result.type & TW_STRING) && *cell_str(st, &result)) tags = cell_str(st, &result);
        if (op.id == KW_BINARYFREE && !e) {
            for (size_t k = 0; k < live.size(); ++k)
                if (live[k] == args[1].i) live.erase(live.begin() + static_cast<ptrdiff_t>(k)), k = live.size();
        }
        if (!binbuf_guards_intact(st)) FAIL() << "operation " << i << " (" << kw_name(st, op.id) << ") wrote outside a buffer";
        for (int32_t h : live) {
            const BinSlot* b = binbuf_get(st, h);
            ASSERT_NE(b, nullptr);
            ASSERT_TRUE(b->eod >= 0 && b->eod <= b->size) << "operation " << i << " left the end of data outside";
        }
        if (i % 5000 == 0) {
            char why[200];
            ASSERT_TRUE(heap_check(st, why, sizeof why)) << why;
        }
    }
    // Both outcomes must have been common, or the run tested little.
    EXPECT_GT(failures, 10000);
    EXPECT_GT(done, 10000);
}

TEST_F(Binary, HeldBuffersSurviveBinaryFreeButNotTheTearDown) {
    const int32_t h = Alloc(4);
    binbuf_hold(st, h, true);
    Reset();
    Int(h);
    EXPECT_EQ(Call(KW_BINARYFREE), 0);
    EXPECT_EQ(result.i, 0);
    EXPECT_NE(binbuf_get(st, h), nullptr);
    binbuf_hold(st, h, false);
    Reset();
    Int(h);
    EXPECT_EQ(Call(KW_BINARYFREE), 0);
    EXPECT_EQ(binbuf_get(st, h), nullptr);

    binbuf_hold(st, Alloc(4), true);
    binbuf_teardown(st);
    EXPECT_EQ(st->binSlots, nullptr);
}

TEST(UncompressBuffer, InflatesInPlaceAndAppendsANul) {
    std::string text;
    for (int i = 0; i < 200; ++i) text += "binary buffers ";
    std::vector<uint8_t> buf(text.size() + 1, 0xEE);
    uLongf packed = static_cast<uLongf>(buf.size());
    ASSERT_EQ(compress2(buf.data(), &packed, reinterpret_cast<const Bytef*>(text.data()), text.size(), 9), Z_OK);
    const uint32_t n = static_cast<uint32_t>(text.size());
    EXPECT_EQ(UncompressBuffer(buf.data(), packed, n), n);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.data()), n), text);
    EXPECT_EQ(buf[n], 0);

    std::vector<uint8_t> again(text.size() + 1);
    packed = static_cast<uLongf>(again.size());
    compress2(again.data(), &packed, reinterpret_cast<const Bytef*>(text.data()), text.size(), 1);
    EXPECT_EQ(UncompressBuffer(again.data(), packed, n - 1), 0xFFFFFFFFu);   // size too small
    EXPECT_EQ(UncompressBuffer(nullptr, packed, n), 0xFFFFFFFFu);
    EXPECT_EQ(UncompressBuffer(again.data(), 0, n), 0xFFFFFFFFu);
    EXPECT_EQ(UncompressBuffer(again.data(), packed, 0), 0xFFFFFFFFu);
    uint8_t junk[16] = "not compressed";
    EXPECT_EQ(UncompressBuffer(junk, sizeof junk - 1, 10), 0xFFFFFFFFu);
}

TEST_F(Binary, ServicesRequest33Decompresses) {
    const char text[] = "decompressed through DLLServices";
    std::vector<uint8_t> buf(sizeof text + 64);
    uLongf packed = static_cast<uLongf>(buf.size());
    ASSERT_EQ(compress2(buf.data(), &packed, reinterpret_cast<const Bytef*>(text), sizeof text - 1, 6), Z_OK);
    EXPECT_EQ(DLLServices(stateMem, 33, buf.data(), nullptr, static_cast<int64_t>(packed), sizeof text - 1),
              static_cast<int64_t>(sizeof text - 1));
    EXPECT_STREQ(reinterpret_cast<char*>(buf.data()), text);
}

}  // namespace
