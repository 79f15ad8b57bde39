// Buffers and automation values: BinaryAllocArray (a buffer from an array
// of bytes, such as a byte array returned by an automation object) and
// BinaryOleType (how a buffer is handed to an automation call).
#include "interop/binary/binary.h"
#include "interop/binary/functions.h"
#include <cstring>

using namespace bin;

namespace {

// A byte value of an array element: an integer from -128 to 255.
bool element_byte(const Cell* e, uint8_t* out) {
    int64_t v;
    if ((e->type & TW_INT) && !(e->type & (TW_FILEBIT | TW_BINBIT))) v = e->i;
    else if (e->type & TW_INT64) v = e->i64;
    else return false;
    if (v < -128 || v > 255) return false;
    *out = static_cast<uint8_t>(v);
    return true;
}

// Variant types a buffer can be passed as: a binary string, or an array of
// unsigned bytes, signed bytes or variants each holding a byte; any of them
// may be passed by reference (the object may then change the buffer).
bool valid_ole_type(int32_t t) {
    const int32_t base = t & ~VT_BYREF;
    return t == 0 || base == VT_BSTR || base == (VT_ARRAY | VT_UI1) || base == (VT_ARRAY | VT_I1) ||
           base == (VT_ARRAY | VT_VARIANT);
}

}  // namespace

// BinaryAllocArray(array): a new buffer holding one byte per element (in row
// order), its end of data at its size. A map is 1746; an element that is not
// an integer from -128 to 255 is 1747.
void fn_binaryallocarray(State* st, int, Cell* result, Cell* args, bool) {
    const ArrayHdr* a = args[1].arr;
    if (!a || (a->flags & ARR_MAP) || (a->count && !a->elements)) return void(st->err = 1746);
    for (uint32_t i = 0; i < a->count; ++i) {
        uint8_t byte;
        if (!element_byte(arr_elem(const_cast<ArrayHdr*>(a), i), &byte)) return void(st->err = 1747);
    }
    const int32_t h = binbuf_alloc(st, a->count);
    if (!h) return;
    BinSlot* b = binbuf_get(st, h);
    for (uint32_t i = 0; i < a->count; ++i) element_byte(arr_elem(const_cast<ArrayHdr*>(a), i), &b->addr[i]);
    b->eod = a->count;
    set_handle(st, result, h);
}

// BinaryOleType(handle, type, offset, count, reserved): how the buffer goes
// to automation calls: as the variant type given (0 resets to the default, a
// byte array of the data) made of `count` bytes from `offset` (-1: up to the
// end of data at the time of the call). Returns the previous type.
void fn_binaryoletype(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int32_t type = args[2].i;
    const int64_t off = arg64(args[3]), count = arg64(args[4]);
    if (!valid_ole_type(type)) return void(st->err = 1514);
    if (off < 0) return void(st->err = 1548);
    if (off > b->size) return void(st->err = 1515);
    if (count < -1) return void(st->err = 1549);
    if (count > b->size - off) return void(st->err = 1544);
    const int32_t previous = b->oleType;
    b->oleType = type;
    b->oleOffset = type ? off : 0;
    b->oleCount = type ? count : -1;
    cell_set_int(st, result, previous);
}
