// A real interpreter state owned by a test or a benchmark: a zeroed movable
// state block, a reserved string-heap region formatted by heap_init, and a
// variable table attached as scope 0 - the same pieces a host hands over
// through DoDaDllInit requests 1 to 3.
#pragma once
#include "state.h"
#include "heap.h"
#include "value.h"
#include "errors.h"
#include "linecache.h"

struct OwnedState {
    HGLOBAL  stateMem = nullptr;
    HGLOBAL  varMem = nullptr;
    uint8_t* region = nullptr;
    State*   st = nullptr;

    OwnedState() = default;
    OwnedState(const OwnedState&) = delete;
    OwnedState& operator=(const OwnedState&) = delete;
    ~OwnedState() { discard(); }

    // False when a block could not be allocated or the heap not formatted.
    bool build(uint16_t slots, uint64_t heapReserve) {
        discard();
        stateMem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, STATE_SIZE);
        st = stateMem ? static_cast<State*>(GlobalLock(stateMem)) : nullptr;
        region = static_cast<uint8_t*>(VirtualAlloc(nullptr, heapReserve, MEM_RESERVE, PAGE_NOACCESS));
        if (!st || !region || !heap_init(st, region, heapReserve, 65536)) return false;
        varMem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(slots) * sizeof(VarSlot));
        if (!varMem) return false;
        scope_start(st, varMem, slots);
        st->curUdf = 65535;
        st->decimals = -1;
        return true;
    }

    void discard() {
        if (st) err_detail_free(st);
        if (st) lines_forget_all(st);
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
};
