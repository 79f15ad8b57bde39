// BinaryAlloc, BinaryFree, BinaryBufInfo, BinaryEodGet, BinaryEodSet.
#include "interop/binary/binary.h"
#include "interop/binary/functions.h"

using namespace bin;

// BinaryAlloc(size): a zero-filled buffer of exactly `size` bytes.
void fn_binaryalloc(State* st, int, Cell* result, Cell* args, bool) {
    if (const int32_t h = binbuf_alloc(st, arg64(args[1]))) set_handle(st, result, h);
}

// BinaryFree(handle): 0. A buffer still used by a structure or an automation
// call is left allocated.
void fn_binaryfree(State* st, int, Cell* result, Cell* args, bool) {
    if (!buffer(st, args[1])) return;
    binbuf_free(st, args[1].i);
    cell_set_int(st, result, 0);
}

// BinaryBufInfo(handle, request): -1 whether the handle is a live buffer (no
// error either way), 0 size, 1 address, 2 end of data.
void fn_binarybufinfo(State* st, int, Cell* result, Cell* args, bool) {
    const int request = args[2].i;
    if (request == -1) {
        cell_set_int(st, result, binbuf_get(st, arg64(args[1])) ? 1 : 0);
        return;
    }
    const BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    switch (request) {
    case 0: set64(st, result, b->size); break;
    case 1: set64(st, result, reinterpret_cast<int64_t>(b->addr)); break;
    case 2: set64(st, result, b->eod); break;
    default: st->err = 1809; break;
    }
}

// BinaryEodGet(handle): the end-of-data mark.
void fn_binaryeodget(State* st, int, Cell* result, Cell* args, bool) {
    if (const BinSlot* b = buffer(st, args[1])) set64(st, result, b->eod);
}

// BinaryEodSet(handle, value): sets the mark anywhere from 0 to the size and
// returns the previous one.
void fn_binaryeodset(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t v = arg64(args[2]);
    if (v < 0) return void(st->err = 1548);
    if (v > b->size) return void(st->err = 3127);
    const int64_t previous = b->eod;
    b->eod = v;
    set64(st, result, previous);
}
