// Compression with zlib: BinaryComp, BinaryUncomp and the exported
// UncompressBuffer.
#include "interop/binary/binary.h"
#include "interop/binary/functions.h"
#include <cstring>
#include <zlib.h>

using namespace bin;

namespace {

// zlib's one-shot calls count bytes in 32 bits.
constexpr int64_t kZlibMax = UINT32_MAX;

// Runs a one-shot zlib call from the source's data into a work block of the
// target's capacity, then copies the output into the target (so a failure
// leaves the target as it was, and source and target may be one buffer).
template <class Call>
void one_shot(State* st, Cell* result, Cell* args, uint16_t failure, int64_t capacityLimit, Call call) {
    const BinSlot* s = buffer(st, args[1]);
    if (!s) return;
    BinSlot* t = buffer(st, args[2]);
    if (!t) return;
    if (s->eod > kZlibMax || t->size > kZlibMax) return void(st->err = failure);
    const int64_t capacity = t->size < capacityLimit ? t->size : capacityLimit;
    WorkBlock out(st, static_cast<size_t>(capacity));
    if (!out) return;
    uLongf produced = static_cast<uLongf>(capacity);
    const int rc = call(out.get(), &produced, s->addr, static_cast<uLong>(s->eod));
    if (rc == Z_MEM_ERROR) return void(st->err = 1588);   // zlib's own work memory
    if (rc != Z_OK) return void(st->err = failure);
    memcpy(t->addr, out.get(), produced);
    t->eod = static_cast<int64_t>(produced);
    set64(st, result, t->eod);
}

}  // namespace

// BinaryComp(source, target, level): compresses the source's data into the
// target at level -1 (zlib's default) or 0 to 9; the compressed length, which
// also becomes the target's end of data.
void fn_binarycomp(State* st, int, Cell* result, Cell* args, bool) {
    const int level = args[3].i;
    const BinSlot* s = binbuf_get(st, arg64(args[1]));
    // Output never needs more than zlib's bound for the input.
    const int64_t bound = s && s->eod <= kZlibMax ? static_cast<int64_t>(compressBound(static_cast<uLong>(s->eod)))
                                                   : kZlibMax;
    one_shot(st, result, args, 1592, bound, [level](Bytef* out, uLongf* n, const Bytef* in, uLong len) {
        return compress2(out, n, in, len, level);
    });
}

// BinaryUncomp(source, target): decompresses the source's data into the
// target; the uncompressed length, which becomes the target's end of data.
void fn_binaryuncomp(State* st, int, Cell* result, Cell* args, bool) {
    one_shot(st, result, args, 1593, kZlibMax, [](Bytef* out, uLongf* n, const Bytef* in, uLong len) {
        return uncompress(out, n, in, len);
    });
}

extern "C" uint32_t UncompressBuffer(void* buffer, uint32_t compressedLength, uint32_t uncompressedSize) {
    constexpr uint32_t kFailed = 0xFFFFFFFF;
    if (!buffer || !compressedLength || !uncompressedSize) return kFailed;
    auto* temp = static_cast<Bytef*>(GlobalAlloc(GMEM_FIXED, uncompressedSize));
    if (!temp) return kFailed;
    uLongf produced = uncompressedSize;
    const int rc = uncompress(temp, &produced, static_cast<const Bytef*>(buffer), compressedLength);
    if (rc == Z_OK) {
        memcpy(buffer, temp, produced);
        static_cast<uint8_t*>(buffer)[produced] = 0;
    }
    GlobalFree(temp);
    return rc == Z_OK ? static_cast<uint32_t>(produced) : kFailed;
}
