// Byte ranges between two buffers: BinaryCopy, BinaryCompare, BinaryAnd,
// BinaryOr, BinaryXor. Arguments: target (or first) handle and offset,
// source (or second) handle and offset, count.
#include "interop/binary/binary.h"
#include "interop/binary/functions.h"
#include <cstring>

using namespace bin;

namespace {

// Copies n bytes one by one from the lowest address upward, so that a copy
// to a later offset of the same buffer repeats the bytes between the two
// offsets. Done in chunks no longer than that distance, which gives the same
// bytes as the byte loop.
void copy_upward(uint8_t* dst, const uint8_t* src, int64_t n) {
    const int64_t gap = dst - src;
    if (gap <= 0 || gap >= n) {
        memmove(dst, src, static_cast<size_t>(n));
        return;
    }
    for (int64_t done = 0; done < n; done += gap)
        memcpy(dst + done, src + done, static_cast<size_t>(n - done < gap ? n - done : gap));
}

// Both ranges checked by the shared rule.
bool two_ranges(State* st, Cell* args, BinSlot** a, BinSlot** b, int64_t* offA, int64_t* offB, int64_t* n) {
    *a = buffer(st, args[1]);
    if (!*a) return false;
    *b = buffer(st, args[3]);
    if (!*b) return false;
    *offA = arg64(args[2]);
    *offB = arg64(args[4]);
    *n = arg64(args[5]);
    return check_range(st, *a, *offA, *n) && check_range(st, *b, *offB, *n);
}

template <class Op>
void bitwise(State* st, Cell* result, Cell* args, Op op) {
    BinSlot *t, *s;
    int64_t to, so, n;
    if (!two_ranges(st, args, &t, &s, &to, &so, &n)) return;
    // Through a copy of the source, so that overlapping ranges of one buffer
    // combine the original bytes.
    WorkBlock src(st, static_cast<size_t>(n));
    if (!src) return;
    memcpy(src.get(), s->addr + so, static_cast<size_t>(n));
    for (int64_t k = 0; k < n; ++k) t->addr[to + k] = op(t->addr[to + k], src.get()[k]);
    binbuf_touch(t, to + n);
    set64(st, result, n);
}

}  // namespace

// BinaryCopy(target, target offset, source, source offset, count): the count.
void fn_binarycopy(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* t = buffer(st, args[1]);
    if (!t) return;
    const BinSlot* s = buffer(st, args[3]);
    if (!s) return;
    const int64_t to = arg64(args[2]), so = arg64(args[4]), n = arg64(args[5]);
    if (to < 0 || so < 0) return void(st->err = 1548);
    if (to >= t->size || so >= s->size) return void(st->err = 3327);
    if (n > t->size - to) return void(st->err = 3328);
    if (n > 0) binbuf_touch(t, to + n);
    if (n > s->size - so) return void(st->err = 3329);
    if (n > 0) copy_upward(t->addr + to, s->addr + so, n);
    set64(st, result, n);
}

// BinaryCompare(first, offset, second, offset, count): 0 when the two ranges
// hold the same bytes, else the 1-based position of the first byte that differs.
void fn_binarycompare(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot *a, *b;
    int64_t oa, ob, n;
    if (!two_ranges(st, args, &a, &b, &oa, &ob, &n)) return;
    const uint8_t* p = a->addr + oa;
    const uint8_t* q = b->addr + ob;
    int64_t k = 0;
    while (k < n && p[k] == q[k]) ++k;
    set64(st, result, k == n ? 0 : k + 1);
}

// BinaryAnd / BinaryOr / BinaryXor(target, offset, source, offset, count):
// combine the source bytes into the target; the count.
void fn_binaryand(State* st, int, Cell* r, Cell* a, bool) {
    bitwise(st, r, a, [](uint8_t x, uint8_t y) { return static_cast<uint8_t>(x & y); });
}
void fn_binaryor(State* st, int, Cell* r, Cell* a, bool) {
    bitwise(st, r, a, [](uint8_t x, uint8_t y) { return static_cast<uint8_t>(x | y); });
}
void fn_binaryxor(State* st, int, Cell* r, Cell* a, bool) {
    bitwise(st, r, a, [](uint8_t x, uint8_t y) { return static_cast<uint8_t>(x ^ y); });
}
