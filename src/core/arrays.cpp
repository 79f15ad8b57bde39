// Array blocks: creation, subscripting and reference counting.
//
// An array is one movable, zero-filled global memory block, locked once at
// creation and kept locked until the last reference goes: a 56-byte header
// followed by 56-byte element cells in row-major order. Every cell that holds
// the array holds one reference, counted in ArrayHdr::refs. (The system's own
// lock count of a movable block stops at 255, so it cannot count references.)
#include "value.h"
#include <cstring>

namespace {

constexpr double MAX_ARRAY_BYTES = 4000000000.0;
constexpr uint32_t SPARE_SMALL = 145, SPARE_LARGE = 291;

// Cells the block has room for: the capacity, trusted only as far as the
// storage really goes.
uint32_t cells_in_block(const ArrayHdr* a) {
    uint32_t byStorage = a->storage / ELEMENT_SIZE;
    return a->capacity < byStorage ? a->capacity : byStorage;
}

// Whether the element cells live in a block of their own (arr_storage_set)
// rather than directly after the header.
bool separate_storage(const ArrayHdr* a) {
    return a->elements && a->elements != reinterpret_cast<const uint8_t*>(a) + sizeof(ArrayHdr);
}

void free_locked(void* p) {
    HGLOBAL h = GlobalHandle(p);
    if (h) {
        GlobalUnlock(h);
        GlobalFree(h);
    }
}

}  // namespace

extern "C" uint32_t CreateMyArray(State* st, Cell* cell, uint32_t d1, uint32_t d2, uint32_t d3,
                                  uint32_t d4, uint32_t d5, uint32_t flags, uint32_t count) {
    const uint32_t given[5] = {d1, d2, d3, d4, d5};
    uint32_t dims[5] = {d1, 0, 0, 0, 0};
    for (uint32_t k = 1; k < 5; k++) dims[k] = count > k ? given[k] : 0;

    uint8_t ndims = 0;
    for (uint32_t k = 0; k < 5; k++) {
        if (dims[k] >= 0x80000000u) {
            st->err = 1628;
            return 0xFFFFFFFF;
        }
        if (dims[k]) {
            if (ndims != k) {                      // a zero size came before this one
                st->err = 1630;
                return 0xFFFFFFFF;
            }
            ndims = static_cast<uint8_t>(k + 1);
        }
    }

    // Sizes are multiplied in floating point so that no product can wrap.
    double elements = 0;
    if (ndims) {
        elements = 1;
        for (uint32_t k = 0; k < ndims; k++) elements *= dims[k];
    }
    if (elements * ELEMENT_SIZE + ELEMENT_SIZE > MAX_ARRAY_BYTES) {
        st->err = 1644;
        return 0xFFFFFFFF;
    }
    const uint32_t n = static_cast<uint32_t>(elements);
    uint32_t capacity = n;
    uint8_t hdrFlags = static_cast<uint8_t>(flags & (ARR_GROWABLE | ARR_MAP));
    if (ndims != 1) hdrFlags &= ~ARR_GROWABLE;
    if (hdrFlags & ARR_GROWABLE) {
        uint32_t spare = n <= SPARE_SMALL ? SPARE_SMALL : SPARE_LARGE;
        if ((static_cast<double>(n) + spare) * ELEMENT_SIZE + ELEMENT_SIZE < MAX_ARRAY_BYTES)
            capacity = n + spare;
    }
    const uint32_t storage = capacity * ELEMENT_SIZE;

    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(storage) + sizeof(ArrayHdr));
    ArrayHdr* a = h ? static_cast<ArrayHdr*>(GlobalLock(h)) : nullptr;
    if (!a) {
        if (h) GlobalFree(h);
        st->err = 1631;
        return 0xFFFFFFFF;
    }
    for (uint32_t k = 0; k < 5; k++) a->dims[k] = dims[k];
    a->ndims = ndims;
    a->flags = hdrFlags;
    a->elements = reinterpret_cast<uint8_t*>(a) + sizeof(ArrayHdr);
    a->count = n;
    a->storage = storage;
    a->capacity = capacity;
    a->refs = 1;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    a->stamp = now.QuadPart;

    cell->type = TW_ARRAY;
    cell->arr = a;
    cell->wstr = 0;
    return ndims ? 1 : 0;
}

int arr_flat_index(const ArrayHdr* a, const int64_t* subs, int n, uint32_t* flat) {
    if (!a) return 1637;
    if (a->ndims == 0) return 1710;
    for (int k = 0; k < n; k++) {
        if (k >= a->ndims) return 1635;
        if (subs[k] < 0 || subs[k] >= a->dims[k]) return 1636;
    }
    if (n != a->ndims) return 1635;
    uint64_t index = 0;
    for (int k = 0; k < n; k++) index = index * a->dims[k] + static_cast<uint64_t>(subs[k]);
    if (index >= a->count) return 1636;
    if (!a->elements || a->storage == 0 || index >= cells_in_block(a)) return 1637;
    *flat = static_cast<uint32_t>(index);
    return 0;
}

uint8_t* arr_storage_alloc(State* st, uint64_t cells) {
    if ((static_cast<double>(cells) + 1) * ELEMENT_SIZE > MAX_ARRAY_BYTES) {
        st->err = 1644;
        return nullptr;
    }
    const SIZE_T bytes = static_cast<SIZE_T>(cells ? cells : 1) * ELEMENT_SIZE;
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    void* p = h ? GlobalLock(h) : nullptr;
    if (!p) {
        if (h) GlobalFree(h);
        st->err = 1631;
        return nullptr;
    }
    return static_cast<uint8_t*>(p);
}

void arr_storage_free(uint8_t* cells) {
    if (cells) free_locked(cells);
}

void arr_storage_set(ArrayHdr* a, uint8_t* cells, uint32_t capacity) {
    if (separate_storage(a)) {
        free_locked(a->elements);
    } else if (a->elements) {
        // The cells after the header stay part of the header's block: clear
        // them, so nothing left there is ever taken for a value.
        memset(a->elements, 0, static_cast<size_t>(cells_in_block(a)) * ELEMENT_SIZE);
    }
    a->elements = cells;
    a->capacity = capacity;
    a->storage = capacity * ELEMENT_SIZE;
}

void arr_addref(ArrayHdr* a) {
    if (a) a->refs++;
}

// Releasing a block releases its elements, and an element may hold the last
// reference of another block, which may hold another... A script controls that
// depth (a chain of arrays each holding the previous one), so blocks whose last
// reference went are not released by recursion: they are queued on a list
// threaded through their headers (the identity stamp is no longer needed once
// the block is dying) and freed one after another by the outermost call. The
// list needs no memory of its own, so releasing never fails.
namespace {

thread_local ArrayHdr* t_dying = nullptr;     // queued blocks, linked through `stamp`
thread_local bool      t_draining = false;

void free_block(State* st, ArrayHdr* a) {
    // Every cell the block has room for is released, not only the first
    // `count`: maps scatter their cells, and cells no one uses are zero.
    if (a->elements) {
        uint32_t cells = cells_in_block(a);
        for (uint32_t i = 0; i < cells; i++) {
            Cell* c = arr_elem(a, i);
            if (c->type & TW_ARRAY) {
                ArrayHdr* child = c->arr;
                c->arr = nullptr;
                c->type &= ~TW_ARRAY;
                if (child) arr_release(st, child);   // only queues: we are draining
            }
            cell_release(st, c, CM_ELEMENT);
        }
    }
    // A variable that still names the block (its reference was not counted)
    // must not be left pointing at freed memory.
    if (st->vars) {
        for (uint16_t i = 0; i < st->varUsed; i++) {
            Cell* c = slot_cell(&st->vars[i]);
            if ((c->type & TW_ARRAY) && c->arr == a) c->arr = nullptr;
        }
    }
    if (separate_storage(a)) free_locked(a->elements);
    free_locked(a);
}

}  // namespace

void arr_release(State* st, ArrayHdr* a) {
    if (!a || a->refs == 0) return;
    if (--a->refs) return;
    a->stamp = reinterpret_cast<int64_t>(t_dying);
    t_dying = a;
    if (t_draining) return;
    t_draining = true;
    while (ArrayHdr* next = t_dying) {
        t_dying = reinterpret_cast<ArrayHdr*>(next->stamp);
        free_block(st, next);
    }
    t_draining = false;
}
