// The buffer table: 128 slots in a block the state allocates on the first
// BinaryAlloc, handles as slot index + 987659, allocation, freeing, holds and
// the tear-down.
#include "interop/binary/binbuf.h"
#include <atomic>
#include <cstring>

namespace {

constexpr uint8_t kGuardByte = 0xA5;
std::atomic<size_t> g_guard{0};

BinSlot* table(State* st, bool create) {
    if (!st->binSlots && create)
        st->binSlots = static_cast<BinSlot*>(GlobalAlloc(GPTR, sizeof(BinSlot) * MAX_BINBUF));
    return st->binSlots;
}

void release(BinSlot* b) {
    GlobalUnlock(b->mem);
    GlobalFree(b->mem);
    memset(b, 0, sizeof *b);
}

}  // namespace

BinSlot* binbuf_get(State* st, int64_t handle) {
    if (handle < BINBUF_BASE || handle > BINBUF_LAST || !st->binSlots) return nullptr;
    BinSlot* b = &st->binSlots[handle - BINBUF_BASE];
    return b->mem ? b : nullptr;
}

BinSlot* binbuf_check(State* st, int64_t handle) {
    BinSlot* b = binbuf_get(st, handle);
    if (!b) st->err = 3023;
    return b;
}

int32_t binbuf_alloc(State* st, int64_t size) {
    BinSlot* slots = table(st, true);
    if (!slots) return st->err = 1126, 0;
    int i = 0;
    while (i < MAX_BINBUF && slots[i].mem) ++i;
    if (i == MAX_BINBUF) return st->err = 3024, 0;
    if (size < 0) return st->err = 1126, 0;
    // A movable block of 0 bytes cannot be locked, so at least one byte is
    // taken; the buffer's size stays what the script asked for.
    const size_t guard = g_guard.load();
    const uint64_t bytes = static_cast<uint64_t>(size) + 2 * guard + (size == 0);
    if (bytes > SIZE_MAX / 2) return st->err = 1126, 0;
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(bytes));
    uint8_t* base = mem ? static_cast<uint8_t*>(GlobalLock(mem)) : nullptr;
    if (!base) {
        if (mem) GlobalFree(mem);
        return st->err = 1126, 0;
    }
    if (guard) {
        memset(base, kGuardByte, guard);
        memset(base + guard + size, kGuardByte, guard);
    }
    BinSlot& b = slots[i];
    memset(&b, 0, sizeof b);
    b.mem = mem;
    b.addr = base + guard;
    b.size = size;
    b.oleCount = -1;
    b.guard = static_cast<uint32_t>(guard);
    return BINBUF_BASE + i;
}

void binbuf_free(State* st, int32_t handle) {
    BinSlot* b = binbuf_get(st, handle);
    if (b && b->holds <= 0) release(b);
}

void binbuf_hold(State* st, int32_t handle, bool hold) {
    if (BinSlot* b = binbuf_get(st, handle)) b->holds += hold ? 1 : (b->holds > 0 ? -1 : 0);
}

void binbuf_teardown(State* st) {
    if (!st->binSlots) return;
    for (int i = 0; i < MAX_BINBUF; ++i)
        if (st->binSlots[i].mem) release(&st->binSlots[i]);
    GlobalFree(st->binSlots);
    st->binSlots = nullptr;
}

void binbuf_set_guard(size_t n) { g_guard = n; }

bool binbuf_guards_intact(State* st) {
    if (!st->binSlots) return true;
    for (int i = 0; i < MAX_BINBUF; ++i) {
        const BinSlot& b = st->binSlots[i];
        if (!b.mem || !b.guard) continue;
        const uint8_t* before = b.addr - b.guard;
        const uint8_t* after = b.addr + b.size;
        for (uint32_t k = 0; k < b.guard; ++k)
            if (before[k] != kGuardByte || after[k] != kGuardByte) return false;
    }
    return true;
}
