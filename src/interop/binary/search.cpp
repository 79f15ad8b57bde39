// Searching buffers: BinaryIndex, BinaryIndexNc, BinaryIndexEx,
// BinaryIndexBin, BinaryStrCnt, BinaryReplace.
#include "interop/binary/binary.h"
#include "interop/binary/functions.h"
#include <cstring>

using namespace bin;

namespace {

// Searches the data of `b` for n bytes of `pat` from `start`: forward, the
// first match that ends within the end of data; backward, the last match whose
// last byte lies at or before `start` (and within the data). An empty pattern
// looks for a NUL byte. -1 when there is none.
int64_t search(const BinSlot* b, int64_t start, const uint8_t* pat, int64_t n, bool forward, bool fold) {
    static const uint8_t nul = 0;
    if (n == 0) {
        pat = &nul;
        n = 1;
    }
    if (forward) return find_bytes(b->addr, start, b->eod, pat, n, true, fold);
    const int64_t end = start + 1 < b->eod ? start + 1 : b->eod;
    return find_bytes(b->addr, 0, end, pat, n, false, fold);
}

// The shared part of BinaryIndex, BinaryIndexNc and BinaryIndexEx.
void index_text(State* st, Cell* result, Cell* args, bool fold, int64_t none) {
    const BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t start = arg64(args[2]);
    if (start < 0 || start >= b->size) return void(st->err = 3333);
    const char* text = cell_str(st, &args[3]);
    const int64_t at = search(b, start, reinterpret_cast<const uint8_t*>(text),
                              static_cast<int64_t>(strlen(text)), args[4].i == 0, fold);
    set64(st, result, at >= 0 ? at : none);
}

// Occurrences of n bytes of `pat` in [lo, hi), not overlapping.
int64_t count_matches(const uint8_t* data, int64_t lo, int64_t hi, const uint8_t* pat, int64_t n, bool fold) {
    int64_t count = 0;
    for (int64_t p = lo; (p = find_bytes(data, p, hi, pat, n, true, fold)) >= 0; p += n) ++count;
    return count;
}

}  // namespace

// BinaryIndex(handle, start, text, direction): exact bytes; 0 when not found.
void fn_binaryindex(State* st, int, Cell* result, Cell* args, bool) { index_text(st, result, args, false, 0); }

// BinaryIndexNc(handle, start, text, direction): case ignored; 0 when not found.
void fn_binaryindexnc(State* st, int, Cell* result, Cell* args, bool) { index_text(st, result, args, true, 0); }

// BinaryIndexEx(handle, start, text, direction, match case): -1 when not found.
void fn_binaryindexex(State* st, int, Cell* result, Cell* args, bool) {
    index_text(st, result, args, args[5].i == 0, -1);
}

// BinaryIndexBin(handle, start, pattern buffer, direction, match case): looks
// for the data of the pattern buffer; direction must be @FWDSCAN or
// @BACKSCAN. The offset of the match, or -1.
void fn_binaryindexbin(State* st, int, Cell* result, Cell* args, bool) {
    const BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const BinSlot* pat = buffer(st, args[3]);
    if (!pat) return;
    const int64_t start = arg64(args[2]), direction = arg64(args[4]);
    if (start < 0) return void(st->err = 1548);
    if (start >= b->size) return void(st->err = 1543);
    if (direction != 0 && direction != 1) return void(st->err = 1714);
    if (pat->eod == 0) return void(st->err = 1715);
    set64(st, result, search(b, start, pat->addr, pat->eod, direction == 0, arg64(args[5]) == 0));
}

// BinaryStrCnt(handle, start, end, text): how many times the text occurs,
// without overlapping, in the bytes start .. end (end included; -1 means up
// to the end of data).
void fn_binarystrcnt(State* st, int, Cell* result, Cell* args, bool) {
    const BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t start = arg64(args[2]);
    int64_t end = arg64(args[3]);
    if (end == -1) end = b->eod - 1;
    if (start < 0) return void(st->err = 1548);
    if (start > b->eod) return void(st->err = 1550);
    if (end < start - 1) return void(st->err = 1549);
    if (end >= b->eod) return void(st->err = 1551);
    const char* text = cell_str(st, &args[4]);
    set64(st, result, count_matches(b->addr, start, end + 1, reinterpret_cast<const uint8_t*>(text),
                                    static_cast<int64_t>(strlen(text)), false));
}

// BinaryReplace(handle, search, replacement, match case): replaces every
// occurrence in the data; the end of data moves with the new length. A result
// that would not fit in the buffer is 1544 and nothing changes. Returns the
// number of replacements.
void fn_binaryreplace(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const char* from = cell_str(st, &args[2]);
    const char* to = cell_str(st, &args[3]);
    const bool fold = args[4].i == 0;
    const int64_t nf = static_cast<int64_t>(strlen(from)), nt = static_cast<int64_t>(strlen(to));
    if (nf == 0) return void(st->err = 1614);
    const auto* pat = reinterpret_cast<const uint8_t*>(from);
    const int64_t count = count_matches(b->addr, 0, b->eod, pat, nf, fold);
    if (count == 0) return void(set64(st, result, 0));
    if (nt > nf && count > (b->size - b->eod) / (nt - nf)) return void(st->err = 1544);
    const int64_t length = b->eod + count * (nt - nf);
    WorkBlock work(st, static_cast<size_t>(length));
    if (!work) return;
    uint8_t* out = work.get();
    int64_t p = 0;
    for (int64_t q; (q = find_bytes(b->addr, p, b->eod, pat, nf, true, fold)) >= 0; p = q + nf) {
        memcpy(out, b->addr + p, static_cast<size_t>(q - p));
        out += q - p;
        memcpy(out, to, static_cast<size_t>(nt));
        out += nt;
    }
    memcpy(out, b->addr + p, static_cast<size_t>(b->eod - p));
    memcpy(b->addr, work.get(), static_cast<size_t>(length));
    if (length < b->eod) memset(b->addr + length, 0, static_cast<size_t>(b->eod - length));
    b->eod = length;
    set64(st, result, count);
}
