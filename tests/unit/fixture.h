// A real interpreter state for unit tests: a zeroed movable state block, a
// reserved string-heap region formatted by heap_init, and a variable table
// attached as scope 0 - the same pieces a host hands over through
// DoDaDllInit requests 1 to 3.
#pragma once
#include <gtest/gtest.h>
#include "state.h"
#include "heap.h"
#include "value.h"
#include "errors.h"
#include <cstring>
#include <string>

class StateFixture : public testing::Test {
protected:
    static constexpr uint64_t HEAP_RESERVE = 16ull << 20;
    static constexpr uint16_t VAR_SLOTS = 200;

    HGLOBAL  stateMem = nullptr;
    HGLOBAL  varMem = nullptr;
    uint8_t* region = nullptr;
    State*   st = nullptr;

    void SetUp() override { Build(VAR_SLOTS); }
    void TearDown() override { Discard(); }

    void Build(uint16_t slots) {
        Discard();
        stateMem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, STATE_SIZE);
        ASSERT_NE(stateMem, nullptr);
        st = static_cast<State*>(GlobalLock(stateMem));
        region = static_cast<uint8_t*>(VirtualAlloc(nullptr, HEAP_RESERVE, MEM_RESERVE, PAGE_NOACCESS));
        ASSERT_NE(region, nullptr);
        ASSERT_TRUE(heap_init(st, region, HEAP_RESERVE, 65536));
        varMem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(slots) * sizeof(VarSlot));
        ASSERT_NE(varMem, nullptr);
        scope_start(st, varMem, slots);
        st->curUdf = 65535;
        st->decimals = -1;
    }

    void Discard() {
        if (st) err_detail_free(st);
        if (varMem) {
            if (st && st->vars) GlobalUnlock(varMem);
            GlobalFree(varMem);
        }
        if (region) VirtualFree(region, 0, MEM_RELEASE);
        if (stateMem) {
            GlobalUnlock(stateMem);
            GlobalFree(stateMem);
        }
        varMem = nullptr;
        region = nullptr;
        stateMem = nullptr;
        st = nullptr;
    }

    // Variable helpers.
    uint16_t SetString(const char* name, const std::string& text) {
        uint16_t i = var_create(st, name, TW_UNINIT);
        Cell c;
        cell_init(&c);
        EXPECT_TRUE(cell_set_str(st, &c, text.data(), text.size()));
        EXPECT_TRUE(var_assign(st, i, &c));
        cell_release(st, &c, CM_BARE);
        return i;
    }
    uint16_t SetInt(const char* name, int32_t v) {
        uint16_t i = var_create(st, name, TW_UNINIT);
        Cell c;
        cell_init(&c, v);
        EXPECT_TRUE(var_assign(st, i, &c));
        return i;
    }
    const Cell* VarCell(const char* name) {
        uint16_t i = var_lookup(st, name);
        VarSlot* s = i == SLOT_NONE ? nullptr : var_slot(st, i);
        return s ? slot_cell(s) : nullptr;
    }
};
