// Binary buffers: the per-state table of raw memory blocks that scripts
// allocate with BinaryAlloc, and the interface other modules use to reach
// them (native calls pass a buffer's address, native structures keep their
// bytes in a buffer, automation passes a buffer as a byte array, extenders
// copy data into a buffer by handle).
//
// A buffer is a movable, zero-filled global memory block locked once at
// allocation: its address stays valid until it is freed. It has a size fixed
// at allocation and an end-of-data mark (0 .. size) that says how much of it
// holds meaningful data.
#pragma once
#include "state.h"
#include <cstddef>
#include <cstdint>

constexpr int32_t BINBUF_BASE = 987659;                 // handle of slot 0
constexpr int32_t BINBUF_LAST = BINBUF_BASE + MAX_BINBUF - 1;

struct BinSlot {
    HGLOBAL  mem;            // 0 = slot free
    uint8_t* addr;           // locked address, stable for the buffer's life
    int64_t  oleOffset;      // BinaryOleType: first byte handed to automation
    int64_t  oleCount;       // BinaryOleType: byte count, -1 = up to the end of data
    int64_t  size;           // bytes allocated
    int64_t  eod;            // end of data, 0 .. size
    int32_t  oleType;        // BinaryOleType: variant type, 0 = unset (byte array)
    int32_t  holds;          // objects using the buffer; BinaryFree leaves it alone while > 0
    uint32_t guard;          // guard bytes on each side (reliability tests; normally 0)
};

// The slot of a handle, or nullptr (no error is set).
BinSlot* binbuf_get(State* st, int64_t handle);
// The same, but an invalid handle sets error 3023.
BinSlot* binbuf_check(State* st, int64_t handle);
// Allocates a buffer of `size` bytes in the lowest free slot and returns its
// handle; 0 with error 3024 (table full) or 1126 (negative size, no memory).
int32_t binbuf_alloc(State* st, int64_t size);
// Frees a buffer unless an object holds it (see binbuf_hold). Invalid handles
// are ignored.
void binbuf_free(State* st, int32_t handle);
// Marks a buffer as used (hold) or no longer used by another object (a native
// structure, an automation argument); BinaryFree passes over held buffers.
void binbuf_hold(State* st, int32_t handle, bool hold);
// Raises the end-of-data mark to `end` when it is lower (never above the size).
inline void binbuf_touch(BinSlot* b, int64_t end) {
    if (end > b->eod) b->eod = end <= b->size ? end : b->size;
}
// Releases every buffer and the table (state tear-down).
void binbuf_teardown(State* st);

// Decompresses a zlib stream in place: inflates `compressedLength` bytes into
// a temporary block of `uncompressedSize` bytes, copies the result back over
// the input and appends a NUL byte (the caller's block must hold
// uncompressedSize + 1 bytes). Returns the uncompressed length, or 0xFFFFFFFF
// for a null buffer, a zero length or size, or a failure.
extern "C" uint32_t UncompressBuffer(void* buffer, uint32_t compressedLength, uint32_t uncompressedSize);

// ---- reliability checks (unit tests) ----
// With n > 0, every buffer allocated afterwards is surrounded by n guard bytes
// on each side, filled with a fixed pattern; 0 turns this off. Process-wide.
void binbuf_set_guard(size_t n);
// True when every guard byte of every live buffer still holds the pattern.
bool binbuf_guards_intact(State* st);
