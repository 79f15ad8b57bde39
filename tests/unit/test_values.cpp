// Value cells, variables, scopes, variable pointers and arrays, on a real
// state block, string heap and variable tables.
#include <gtest/gtest.h>
#include "value.h"
#include "errors.h"
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint16_t SLOTS = 200;

class Values : public testing::Test {
protected:
    HGLOBAL stateMem = nullptr;
    State* st = nullptr;
    uint8_t* region = nullptr;
    std::vector<HGLOBAL> tables;   // freed at the end; the last is the level-0 table

    void SetUp() override {
        stateMem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, STATE_SIZE);
        st = static_cast<State*>(GlobalLock(stateMem));
        MakeHeap(64ull << 20);
        scope_start(st, NewTable(SLOTS), SLOTS);
        st->decimals = -1;
    }
    void TearDown() override {
        while (st->level) scope_pop(st);
        if (st->varTable) GlobalUnlock(st->varTable);
        for (HGLOBAL t : tables) GlobalFree(t);
        err_detail_free(st);
        VirtualFree(region, 0, MEM_RELEASE);
        GlobalUnlock(stateMem);
        GlobalFree(stateMem);
    }
    void MakeHeap(uint64_t reserve) {
        if (region) VirtualFree(region, 0, MEM_RELEASE);
        region = static_cast<uint8_t*>(VirtualAlloc(nullptr, reserve, MEM_RESERVE, PAGE_NOACCESS));
        ASSERT_TRUE(region && heap_init(st, region, reserve, 65536));
    }
    HGLOBAL NewTable(uint16_t slots) {
        HGLOBAL t = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, slots * sizeof(VarSlot));
        tables.push_back(t);
        return t;
    }
    // Nothing is allocated in the string heap: one free block spans it all.
    bool HeapEmpty() const {
        uint64_t first, size, next;
        memcpy(&first, st->heapBase + 16, 8);
        memcpy(&size, st->heapBase + first + 8, 8);
        memcpy(&next, st->heapBase + first + 16, 8);
        return first == 80 && next == 0 && size == st->heapEnd - 80;
    }
    Cell Str(const char* s) {
        Cell c;
        cell_init(&c);
        EXPECT_TRUE(cell_set_str(st, &c, s, strlen(s)));
        return c;
    }
    Cell Int(int32_t v) {
        Cell c;
        cell_init(&c, v);
        return c;
    }
    uint16_t Set(const char* name, Cell value) {
        uint16_t i = var_create(st, name, TW_UNINIT);
        EXPECT_NE(i, SLOT_NONE);
        EXPECT_TRUE(var_assign(st, i, &value));
        cell_release(st, &value, CM_BARE);
        return i;
    }
    Cell* VarCell(uint16_t i) { return slot_cell(var_slot(st, i)); }
    std::string VarText(const char* name) {
        int i = find_var(st, name, 0);
        return i < 0 ? "<none>" : cell_str(st, VarCell(static_cast<uint16_t>(i)));
    }
};

// ---- variables ----

// Slot 0 is reserved; names are stored lower-cased, found in any case, and
// have at most 30 characters.
TEST_F(Values, ReservedSlotZeroAndNames) {
    VarSlot* s = var_slot(st, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->name[0], 0);
    EXPECT_EQ(slot_cell(s)->type, TW_UNINIT);
    EXPECT_EQ(slot_cell(s)->i, -1);
    EXPECT_EQ(st->varUsed, 1);

    uint16_t i = var_create(st, "abc", TW_UNINIT);
    EXPECT_EQ(var_lookup(st, "ABC"), i);
    EXPECT_EQ(var_lookup(st, "aBc"), i);
    EXPECT_EQ(var_create(st, "ABC", TW_UNINIT), i);
    EXPECT_EQ(st->varUsed, 2);
    EXPECT_STREQ(var_slot(st, i)->name, "abc");

    std::string thirty(30, 'v'), longer(31, 'v');
    i = var_create(st, thirty.c_str(), TW_UNINIT);
    ASSERT_NE(i, SLOT_NONE);
    EXPECT_EQ(var_lookup(st, thirty.c_str()), i);
    EXPECT_EQ(var_create(st, longer.c_str(), TW_UNINIT), SLOT_NONE);
    EXPECT_EQ(st->err, 3055);
    EXPECT_EQ(var_lookup(st, longer.c_str()), SLOT_NONE);
}

TEST_F(Values, DroppedIsUndefinedButNeverAssignedIsUninitialised) {
    uint16_t x = Set("x", Int(1));
    EXPECT_EQ(find_var(st, "x", 0), x);
    var_drop(st, x);
    EXPECT_EQ(find_var(st, "x", 0), -1);
    EXPECT_EQ(st->err, 3051);

    st->err = 0;
    var_create(st, "y", TW_UNINIT);
    EXPECT_EQ(find_var(st, "y", 0), -1);
    EXPECT_EQ(st->err, 3052);

    st->err = 0;
    EXPECT_EQ(find_var(st, "never", 0), -1);
    EXPECT_EQ(st->err, 3051);
}

TEST_F(Values, DroppedSlotsAreReusedAndAFullTableIs3097) {
    scope_push(st, NewTable(5), 5);
    uint16_t a = Set("a", Int(1)), b = Set("b", Int(2)), c = Set("c", Int(3));
    EXPECT_EQ(c, 3);
    EXPECT_EQ(var_create(st, "d", TW_UNINIT), SLOT_NONE);   // in-use count would reach 5
    EXPECT_EQ(st->err, 3097);
    var_drop(st, b);
    EXPECT_EQ(var_create(st, "d", TW_INT), b);
    EXPECT_EQ(VarCell(b)->type, TW_INT);
    EXPECT_EQ(VarCell(b)->i, -1);
    EXPECT_EQ(VarCell(a)->i, 1);
}

TEST_F(Values, UninitialisedReportRecordsTheNameUnlessSkipping) {
    char ini[MAX_PATH];
    UINT n = GetWindowsDirectoryA(ini, MAX_PATH);
    strcpy(ini + n, "\\CORVEXRC.INI");
    auto recorded = [&] {
        char v[64];
        GetPrivateProfileStringA("Error Reporting", "3052", "", v, sizeof v, ini);
        return std::string(v);
    };
    var_create(st, "first", TW_UNINIT);
    var_create(st, "second", TW_UNINIT);

    EXPECT_EQ(find_var(st, "first", 1), -1);
    EXPECT_EQ(st->err, 3052);
    EXPECT_EQ(recorded(), "first");
    ASSERT_NE(st->detail, nullptr);
    EXPECT_NE(strstr(st->detail, "Uninitialized variable or undefined function:\n\n    first"), nullptr);

    // A statement being skipped leaves neither a record nor a detail.
    err_detail_free(st);
    st->stackCount = 1;
    st->stack[0].status = 1;
    EXPECT_EQ(find_var(st, "second", 1), -1);
    EXPECT_EQ(st->err, 3052);
    EXPECT_EQ(recorded(), "first");
    EXPECT_EQ(st->detail, nullptr);

    // Without report nothing is recorded either.
    st->stack[0].status = 0;
    EXPECT_EQ(find_var(st, "second", 0), -1);
    EXPECT_EQ(recorded(), "first");
}

TEST_F(Values, VariablesOwnTheirStrings) {
    Cell src = Str("Hello");
    uint16_t v = var_create(st, "s", TW_UNINIT);
    ASSERT_TRUE(var_assign(st, v, &src));
    EXPECT_NE(VarCell(v)->str, src.str);           // a copy, not the caller's block
    cell_release(st, &src, CM_BARE);

    Cell r;
    ASSERT_TRUE(var_read(st, v, &r));
    EXPECT_NE(r.str, VarCell(v)->str);
    EXPECT_STREQ(cell_str(st, &r), "Hello");
    EXPECT_EQ(r.slot, v);
    EXPECT_EQ(r.level, 0);
    cell_release(st, &r, CM_VARBOUND);
    EXPECT_EQ(VarText("s"), "Hello");

    // Assigning the variable its own value, then other values, then dropping
    // it leaves nothing behind in the heap.
    ASSERT_TRUE(var_read(st, v, &r));
    ASSERT_TRUE(var_assign(st, v, &r));
    cell_release(st, &r, CM_VARBOUND);
    EXPECT_EQ(VarText("s"), "Hello");
    Cell w;
    cell_init(&w);
    ASSERT_TRUE(cell_set_wstr(st, &w, L"wide", 4));
    ASSERT_TRUE(var_assign(st, v, &w));
    cell_release(st, &w, CM_BARE);
    EXPECT_STREQ(cell_wstr(st, VarCell(v)), L"wide");
    var_drop(st, v);
    EXPECT_TRUE(HeapEmpty());
}

TEST_F(Values, OutOfStringMemoryKeepsOldValues) {
    MakeHeap(128 * 1024);                          // growth cannot pass 128 KB
    std::string big(40000, 'x');
    uint16_t v = Set("v", Str("old"));
    Cell c = Str(big.c_str());
    ASSERT_EQ(c.type, TW_STRING);
    EXPECT_FALSE(var_assign(st, v, &c));           // a second 40000-byte copy does not fit
    EXPECT_EQ(st->err, 3096);
    EXPECT_EQ(VarText("v"), "old");

    st->err = 0;
    Cell d = Str("kept");
    EXPECT_FALSE(cell_set_str(st, &d, big.c_str(), big.size()));
    EXPECT_EQ(st->err, 3096);
    EXPECT_STREQ(cell_str(st, &d), "kept");
    cell_release(st, &d, CM_BARE);
    cell_release(st, &c, CM_BARE);
}

// ---- cells ----

TEST_F(Values, CopyOptions) {
    Cell src = Str("text");
    src.slot = 9;
    src.level = 2;
    src.ref = 77;

    Cell shared;
    cell_copy(st, &shared, &src, CM_VARBOUND);
    EXPECT_EQ(shared.str, src.str);
    EXPECT_EQ(shared.slot, 9);
    EXPECT_EQ(shared.level, 2);
    EXPECT_EQ(shared.ref, 77u);

    Cell bare;
    cell_copy(st, &bare, &src, CM_BARE | CC_DUPSTRINGS);
    EXPECT_NE(bare.str, src.str);
    EXPECT_STREQ(cell_str(st, &bare), "text");
    EXPECT_EQ(bare.slot, SLOT_NONE);
    EXPECT_EQ(bare.level, LEVEL_NONE);
    EXPECT_EQ(bare.ref, 0u);
    cell_release(st, &bare, CM_BARE);

    Cell bound;
    cell_copy(st, &bound, &src, CM_BARE | CC_LEVEL_FROM_SLOT, (3u << 16) | 12);
    EXPECT_EQ(bound.slot, 12);
    EXPECT_EQ(bound.level, 3);

    // An element target is 56 bytes: nothing after them is written.
    uint8_t elems[2 * ELEMENT_SIZE];
    memset(elems, 0xEE, sizeof elems);
    cell_copy(st, reinterpret_cast<Cell*>(elems), &src, CM_ELEMENT | CC_DUPSTRINGS);
    for (size_t k = ELEMENT_SIZE; k < sizeof elems; k++) ASSERT_EQ(elems[k], 0xEE) << k;
    cell_release(st, reinterpret_cast<Cell*>(elems), CM_ELEMENT);
    cell_release(st, &src, CM_BARE);
    EXPECT_TRUE(HeapEmpty());
}

TEST_F(Values, VariantsAreCopiedIntoVariablesAndSharedWhenRead) {
    Cell src;
    cell_init(&src);
    src.type = TW_VARIANT;
    src.var.vt = VT_BSTR;
    src.var.bstrVal = SysAllocString(L"automation");
    uint16_t v = var_create(st, "o", TW_UNINIT);
    ASSERT_TRUE(var_assign(st, v, &src));
    EXPECT_NE(VarCell(v)->var.bstrVal, src.var.bstrVal);
    cell_release(st, &src, CM_BARE);               // clears the caller's variant only
    EXPECT_EQ(src.type, 0u);
    EXPECT_STREQ(VarCell(v)->var.bstrVal, L"automation");

    Cell r;
    ASSERT_TRUE(var_read(st, v, &r));
    EXPECT_EQ(r.var.bstrVal, VarCell(v)->var.bstrVal);
    cell_release(st, &r, CM_VARBOUND);             // bound to the variable: kept
    EXPECT_EQ(VarCell(v)->var.vt, VT_BSTR);
    EXPECT_STREQ(VarCell(v)->var.bstrVal, L"automation");

    ASSERT_TRUE(var_read(st, v, &r));
    cell_release(st, &r, CM_BARE | CR_KEEPVARIANT);
    EXPECT_STREQ(VarCell(v)->var.bstrVal, L"automation");
    var_drop(st, v);
}

TEST_F(Values, TypeNames) {
    struct { uint32_t type; uint16_t vt; const char* text; } cases[] = {
        {0, 0, "UNDEFINED"},
        {8, 0, "UNINITIALIZED"},
        {TW_INT, 0, "INT"},
        {TW_INT64, 0, "INT64"},
        {TW_STRING | TW_UNICODE, 0, "STRING/UNICODE"},
        {TW_FILE, 0, "FILE"},
        {TW_BINBUF, 0, "BINBUF"},
        {TW_FLOAT, 0, "FLOAT"},
        {TW_ARRAY, 0, "ARRAY"},
        {TW_COMOBJ, VT_DISPATCH, "COMOBJ"},
        {TW_VARIANT, VT_BSTR, "VARIANT_BSTR"},
        {TW_VARIANT, VT_ARRAY | VT_VARIANT, "VARIANT_ARRAY_VARIANT"},
        {TW_VARIANT | TW_COMTEMP, VT_I4, "VARIANT_I4/COMTEMP"},
        {TW_INT | TW_INT64, 0, "INT/INT64"},
        {0x1000, 0, "UNKNOWN"},
        {TW_FILEBIT, 0, "UNKNOWN"},
    };
    char out[64];
    for (auto c : cases) {
        type_name(c.type, out, sizeof out, c.vt);
        EXPECT_STREQ(out, c.text) << std::hex << c.type;
    }
    type_name(TW_STRING | TW_UNICODE, out, 5);     // truncated, still terminated
    EXPECT_STREQ(out, "STRI");
}

// ---- scopes and variable pointers ----

TEST_F(Values, ScopesHaveTheirOwnVariablesAndReleaseThemOnReturn) {
    Set("outer", Str("main"));
    uint32_t serial0 = st->curSerial;
    ASSERT_TRUE(scope_push(st, NewTable(50), 50));
    EXPECT_EQ(st->level, 1);
    EXPECT_NE(st->curSerial, serial0);
    EXPECT_EQ(var_lookup(st, "outer"), SLOT_NONE);
    Set("inner", Str("local text"));
    Set("outer", Str("shadow"));
    scope_pop(st);
    EXPECT_EQ(st->level, 0);
    EXPECT_EQ(st->curSerial, serial0);
    EXPECT_EQ(VarText("outer"), "main");
    EXPECT_EQ(var_lookup(st, "inner"), SLOT_NONE);
    var_drop(st, var_lookup(st, "outer"));
    EXPECT_TRUE(HeapEmpty());                      // the locals' strings went with the scope
}

TEST_F(Values, CallDepthIsLimitedTo101Scopes) {
    for (int i = 1; i < MAX_SCOPES; i++) ASSERT_TRUE(scope_push(st, NewTable(4), 4)) << i;
    EXPECT_EQ(st->level, 100);
    EXPECT_FALSE(scope_push(st, NewTable(4), 4));
    EXPECT_EQ(st->level, 100);
}

TEST_F(Values, PointerTexts) {
    Set("target", Int(5));
    char p[96], name[32];
    uint16_t level = 99;
    ASSERT_EQ(varptr_format(st, 0, "target", p, sizeof p), 45 + 6);
    EXPECT_EQ(std::string(p, 13), "#VAR$PTR#0000");
    const std::string good(p);
    EXPECT_EQ(varptr_parse(st, p, &level, name), 0);
    EXPECT_EQ(level, 0);
    EXPECT_STREQ(name, "target");
    EXPECT_EQ(varptr_parse(st, (good.substr(0, 45) + "TarGet").c_str(), &level, name), 0);
    EXPECT_STREQ(name, "target");

    auto with = [&](size_t at, const std::string& text) { return std::string(good).replace(at, text.size(), text); };
    const std::pair<std::string, int> bad[] = {
        {good.substr(0, 37), 3813},                              // too short
        {good + std::string(76 - good.size(), 'a'), 3813},       // too long
        {with(0, "#VAR$PTX#"), 3813},                            // no prefix
        {"plain text that is long enough to be one", 3813},
        {good.substr(0, 38), 3814},                              // passes the length and prefix tests, no name
        {with(30, good[30] == '0' ? "1" : "0"), 3814},           // another serial
        {with(9, "0065"), 3814},                                 // level 101
        {with(20, "G"), 3814},                                   // not hexadecimal
    };
    for (const auto& [text, err] : bad) EXPECT_EQ(varptr_parse(st, text.c_str(), &level, name), err) << text;
}

TEST_F(Values, PointerIntoAReturnedScopeIsInvalid) {
    ASSERT_TRUE(scope_push(st, NewTable(10), 10));
    Set("local", Int(1));
    char p[96], name[32];
    uint16_t level;
    varptr_format(st, 1, "local", p, sizeof p);
    EXPECT_EQ(varptr_parse(st, p, &level, name), 0);
    EXPECT_EQ(level, 1);
    scope_pop(st);
    EXPECT_EQ(varptr_parse(st, p, &level, name), 3814);
    // Another call at the same depth, even with the same table, is a new scope.
    ASSERT_TRUE(scope_push(st, tables.back(), 10));
    EXPECT_EQ(varptr_parse(st, p, &level, name), 3814);
}

// ---- arrays ----

TEST_F(Values, ArrayDimensionErrorsLeaveTheCell) {
    struct { uint32_t d1, d2, d3, d4, d5, count; uint16_t err; } cases[] = {
        {3, 0, 2, 0, 0, 3, 1630},            // a zero dimension before a non-zero one
        {0x80000000u, 0, 0, 0, 0, 1, 1628},
        {2, 2, 2, 2, 0x80000000u, 5, 1628},
        {100000, 100000, 0, 0, 0, 2, 1644},  // too many elements
    };
    for (auto k : cases) {
        Cell c = Int(42);
        EXPECT_EQ(CreateMyArray(st, &c, k.d1, k.d2, k.d3, k.d4, k.d5, 0, k.count), 0xFFFFFFFFu);
        EXPECT_EQ(st->err, k.err) << k.d1;
        EXPECT_EQ(c.type, TW_INT);
        EXPECT_EQ(c.i, 42);
    }
}

TEST_F(Values, ZeroDimensionArrayIsEmpty) {
    Cell c = Int(0);
    EXPECT_EQ(CreateMyArray(st, &c, 0, 0, 0, 0, 0, 0, 1), 0u);
    ASSERT_EQ(c.type, TW_ARRAY);
    ASSERT_NE(c.arr, nullptr);
    EXPECT_EQ(c.arr->ndims, 0);
    EXPECT_EQ(c.arr->count, 0u);
    int64_t s = 0;
    uint32_t flat;
    EXPECT_EQ(arr_flat_index(c.arr, &s, 1, &flat), 1710);
    cell_release(st, &c, CM_BARE);
}

TEST_F(Values, ArrayHeaderAndSpareRoom) {
    Cell c = Int(0);
    ASSERT_EQ(CreateMyArray(st, &c, 2, 3, 9, 9, 9, 0, 2), 1u);   // count 2: d3..d5 ignored
    ArrayHdr* a = c.arr;
    EXPECT_EQ(a->ndims, 2);
    EXPECT_EQ(a->dims[0], 2u);
    EXPECT_EQ(a->dims[1], 3u);
    EXPECT_EQ(a->dims[2], 0u);
    EXPECT_EQ(a->count, 6u);
    EXPECT_EQ(a->capacity, 6u);
    EXPECT_EQ(a->storage, 6 * ELEMENT_SIZE);
    EXPECT_EQ(a->elements, reinterpret_cast<uint8_t*>(a) + sizeof(ArrayHdr));
    EXPECT_EQ(a->refs, 1u);
    EXPECT_NE(a->stamp, 0);
    EXPECT_EQ(arr_elem(a, 5)->type, 0u);           // elements start undefined
    cell_release(st, &c, CM_BARE);

    struct { uint32_t d1, d2, flags; uint32_t capacity; uint8_t hdrFlags; } cases[] = {
        {10, 0, ARR_GROWABLE, 10 + 145, ARR_GROWABLE},
        {145, 0, ARR_GROWABLE, 145 + 145, ARR_GROWABLE},
        {146, 0, ARR_GROWABLE, 146 + 291, ARR_GROWABLE},
        {10, 2, ARR_GROWABLE, 20, 0},               // only one-dimensional arrays grow
        {10, 0, ARR_MAP, 10, ARR_MAP},
    };
    for (auto k : cases) {
        ASSERT_NE(CreateMyArray(st, &c, k.d1, k.d2, 0, 0, 0, k.flags, 2), 0xFFFFFFFFu);
        EXPECT_EQ(c.arr->capacity, k.capacity) << k.d1;
        EXPECT_EQ(c.arr->storage, k.capacity * ELEMENT_SIZE);
        EXPECT_EQ(c.arr->flags, k.hdrFlags);
        cell_release(st, &c, CM_BARE);
    }
}

TEST_F(Values, Subscripts) {
    Cell c = Int(0);
    ASSERT_EQ(CreateMyArray(st, &c, 2, 3, 0, 0, 0, 0, 2), 1u);
    struct { std::vector<int64_t> subs; int err; uint32_t flat; } cases[] = {
        {{1, 2}, 0, 5}, {{0, 0}, 0, 0}, {{1, 0}, 0, 3},
        {{2, 0}, 1636, 0}, {{0, 3}, 1636, 0}, {{-1, 0}, 1636, 0},
        {{1}, 1635, 0}, {{0, 0, 0}, 1635, 0},
    };
    for (auto& k : cases) {
        uint32_t flat = 12345;
        EXPECT_EQ(arr_flat_index(c.arr, k.subs.data(), static_cast<int>(k.subs.size()), &flat), k.err)
            << k.subs.size() << " subscripts";
        if (!k.err) EXPECT_EQ(flat, k.flat);
    }
    cell_release(st, &c, CM_BARE);
}

TEST_F(Values, ArrayReferencesAndTheLastRelease) {
    Cell c = Int(0);
    ASSERT_EQ(CreateMyArray(st, &c, 3, 0, 0, 0, 0, 0, 1), 1u);
    ArrayHdr* a = c.arr;
    Cell text = Str("element text");
    cell_copy(st, arr_elem(a, 1), &text, CM_ELEMENT | CC_DUPSTRINGS);
    cell_release(st, &text, CM_BARE);

    uint16_t x = var_create(st, "x", TW_UNINIT), y = var_create(st, "y", TW_UNINIT);
    ASSERT_TRUE(var_assign(st, x, &c));
    cell_release(st, &c, CM_BARE);
    EXPECT_EQ(a->refs, 1u);                        // held by x only

    Cell r;
    ASSERT_TRUE(var_read(st, x, &r));
    EXPECT_EQ(a->refs, 2u);
    ASSERT_TRUE(var_assign(st, y, &r));
    EXPECT_EQ(a->refs, 3u);
    cell_release(st, &r, CM_VARBOUND);
    ASSERT_TRUE(var_assign(st, y, VarCell(x)));    // the same array again is no new block
    EXPECT_EQ(a->refs, 2u);
    EXPECT_EQ(VarCell(y)->arr, a);

    // A slot that names the block without holding a reference loses the
    // address when the last reference goes.
    uint16_t stale = var_create(st, "stale", TW_UNINIT);
    VarCell(stale)->type = TW_ARRAY;
    VarCell(stale)->arr = a;
    var_drop(st, x);
    EXPECT_EQ(a->refs, 1u);
    EXPECT_EQ(VarCell(stale)->arr, a);
    var_drop(st, y);
    EXPECT_EQ(VarCell(stale)->arr, nullptr);
    EXPECT_TRUE(HeapEmpty());                      // the element's string went with the block
}

TEST_F(Values, KeepArrayReleaseLeavesTheReference) {
    Cell c = Int(0);
    ASSERT_EQ(CreateMyArray(st, &c, 1, 0, 0, 0, 0, 0, 1), 1u);
    ArrayHdr* a = c.arr;
    Cell copy;
    cell_copy(st, &copy, &c, CM_BARE | CC_ADDREF);
    EXPECT_EQ(a->refs, 2u);
    cell_release(st, &copy, CM_BARE | CR_KEEPARRAY);
    EXPECT_EQ(a->refs, 2u);
    EXPECT_EQ(copy.arr, a);
    cell_release(st, &copy, CM_BARE);
    EXPECT_EQ(a->refs, 1u);
    cell_release(st, &c, CM_BARE);
}

}  // namespace
