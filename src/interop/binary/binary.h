// Helpers shared by the binary-buffer built-in functions (this folder only).
#pragma once
#include "interop/binary/binbuf.h"
#include "dispatch.h"
#include "errors.h"
#include "value.h"
#include <cstdint>

namespace bin {

// An integer argument converted with code 0 or 9: INT, or INT64 when it did
// not fit in 32 bits.
inline int64_t arg64(const Cell& c) { return (c.type & TW_INT64) ? c.i64 : c.i; }

// A 64-bit result, delivered as INT when it fits in 32 bits.
inline void set64(State* st, Cell* result, int64_t v) {
    if (v >= INT32_MIN && v <= INT32_MAX) cell_set_int(st, result, static_cast<int32_t>(v));
    else cell_set_int64(st, result, v);
}

// The buffer named by a handle argument (3023 when it is none).
inline BinSlot* buffer(State* st, const Cell& handle) { return binbuf_check(st, arg64(handle)); }

// An error with no data stored; always returns false so checks read as
// `if (off < 0) return fail(st, 1548);`.
inline bool fail(State* st, uint16_t n) { st->err = n; return false; }

// The shared range rule for `count` bytes at `off` of a buffer: a negative
// offset is 1548, a negative count 1549, an offset past the size 1543 and a
// range that ends past the size 1544.
inline bool check_range(State* st, const BinSlot* b, int64_t off, int64_t count) {
    if (off < 0) return fail(st, 1548);
    if (count < 0) return fail(st, 1549);
    if (off > b->size) return fail(st, 1543);
    if (count > b->size - off) return fail(st, 1544);
    return true;
}

// The system's ANSI upper-casing of every byte value (built once).
const uint8_t* upper_table();

// Finds `n` bytes of `pat` in hay[lo .. hi) (the match lies wholly inside):
// the first match when forward, else the last one. With `fold` both sides are
// compared through upper_table(). Returns the offset or -1.
int64_t find_bytes(const uint8_t* hay, int64_t lo, int64_t hi, const uint8_t* pat, int64_t n, bool forward,
                   bool fold);

// A temporary work block from the global heap (1588 when it cannot be had).
class WorkBlock {
public:
    WorkBlock(State* st, size_t bytes);
    ~WorkBlock();
    WorkBlock(const WorkBlock&) = delete;
    WorkBlock& operator=(const WorkBlock&) = delete;
    uint8_t* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
private:
    uint8_t* p_;
};

// A result cell holding a buffer handle (type word BINBUF).
void set_handle(State* st, Cell* result, int32_t handle);

}  // namespace bin
