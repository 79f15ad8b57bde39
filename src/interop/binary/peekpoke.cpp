// Peek, poke and increment of 1-, 2-, 4- and 8-byte integers and 8-byte
// floats at a byte offset.
//
// Every access, reads included, first checks the offset (1548 negative, 3325
// past the end) and raises the end-of-data mark to offset + width. Values are
// little-endian; 1-, 2- and 4-byte values are read unsigned (a 4-byte value
// is returned as a 32-bit INT, so FF FF FF FF reads as -1).
#include "interop/binary/binary.h"
#include "interop/binary/functions.h"
#include <cstring>

using namespace bin;

namespace {

// The checked address of `width` bytes at the offset argument, with the end
// of data raised; nullptr with the error set.
uint8_t* field(State* st, Cell* args, int width) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return nullptr;
    const int64_t off = arg64(args[2]);
    if (off < 0) return st->err = 1548, nullptr;
    if (off > b->size - width) return st->err = 3325, nullptr;
    binbuf_touch(b, off + width);
    return b->addr + off;
}

uint32_t load(const uint8_t* p, int width) {
    uint32_t v = 0;
    memcpy(&v, p, static_cast<size_t>(width));   // little-endian host
    return v;
}

void store(uint8_t* p, int width, uint32_t v) { memcpy(p, &v, static_cast<size_t>(width)); }

template <int W>
void peek(State* st, Cell* result, Cell* args) {
    if (const uint8_t* p = field(st, args, W)) cell_set_int(st, result, static_cast<int32_t>(load(p, W)));
}

// The value must fit the width as an unsigned number or as a negative two's
// complement number; the low bytes are stored.
template <int W>
void poke(State* st, Cell* result, Cell* args) {
    uint8_t* p = field(st, args, W);
    if (!p) return;
    const int64_t v = arg64(args[3]);
    constexpr int64_t lo = -(int64_t{1} << (8 * W - 1));
    constexpr int64_t hi = (int64_t{1} << (8 * W)) - 1;
    if (v < lo || v > hi) return void(st->err = 3326);
    const uint32_t previous = load(p, W);
    store(p, W, static_cast<uint32_t>(v));
    cell_set_int(st, result, static_cast<int32_t>(previous));
}

// Stores value + 1 wrapped to the width; the result is not wrapped (a byte
// holding 255 becomes 0 and the result is 256).
template <int W>
void incr(State* st, Cell* result, Cell* args) {
    uint8_t* p = field(st, args, W);
    if (!p) return;
    const uint32_t next = load(p, W) + 1;
    store(p, W, next);
    cell_set_int(st, result, static_cast<int32_t>(next));
}

// 8-byte fields: a signed 64-bit integer (delivered as INT when it fits) or a
// double.
void put(State* st, Cell* result, int64_t v) { set64(st, result, v); }
void put(State* st, Cell* result, double v) { cell_set_float(st, result, v); }
int64_t value_of(const Cell& c, int64_t*) { return arg64(c); }
double value_of(const Cell& c, double*) { return c.f; }

template <class T>
void peek8(State* st, Cell* result, Cell* args) {
    if (const uint8_t* p = field(st, args, 8)) {
        T v;
        memcpy(&v, p, 8);
        put(st, result, v);
    }
}

// Stores the value; returns the previous one.
template <class T>
void poke8(State* st, Cell* result, Cell* args) {
    if (uint8_t* p = field(st, args, 8)) {
        T previous;
        memcpy(&previous, p, 8);
        const T v = value_of(args[3], static_cast<T*>(nullptr));
        memcpy(p, &v, 8);
        put(st, result, previous);
    }
}

}  // namespace

void fn_binarypeek(State* st, int, Cell* r, Cell* a, bool) { peek<1>(st, r, a); }
void fn_binarypeek2(State* st, int, Cell* r, Cell* a, bool) { peek<2>(st, r, a); }
void fn_binarypeek4(State* st, int, Cell* r, Cell* a, bool) { peek<4>(st, r, a); }
void fn_binarypoke(State* st, int, Cell* r, Cell* a, bool) { poke<1>(st, r, a); }
void fn_binarypoke2(State* st, int, Cell* r, Cell* a, bool) { poke<2>(st, r, a); }
void fn_binarypoke4(State* st, int, Cell* r, Cell* a, bool) { poke<4>(st, r, a); }
void fn_binaryincr(State* st, int, Cell* r, Cell* a, bool) { incr<1>(st, r, a); }
void fn_binaryincr2(State* st, int, Cell* r, Cell* a, bool) { incr<2>(st, r, a); }
void fn_binaryincr4(State* st, int, Cell* r, Cell* a, bool) { incr<4>(st, r, a); }

void fn_binarypeek8(State* st, int, Cell* r, Cell* a, bool) { peek8<int64_t>(st, r, a); }
void fn_binarypoke8(State* st, int, Cell* r, Cell* a, bool) { poke8<int64_t>(st, r, a); }
void fn_binarypeekflt(State* st, int, Cell* r, Cell* a, bool) { peek8<double>(st, r, a); }
void fn_binarypokeflt(State* st, int, Cell* r, Cell* a, bool) { poke8<double>(st, r, a); }

// BinaryIncrFlt(handle, offset): adds 1.0; returns the new value.
void fn_binaryincrflt(State* st, int, Cell* result, Cell* args, bool) {
    if (uint8_t* p = field(st, args, 8)) {
        double v;
        memcpy(&v, p, 8);
        v += 1.0;
        memcpy(p, &v, 8);
        cell_set_float(st, result, v);
    }
}
