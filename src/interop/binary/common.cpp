// Helpers shared by the binary-buffer functions: byte search, the ANSI
// upper-case table, work blocks and handle results.
#include "interop/binary/binary.h"
#include <cstring>
#include <mutex>

namespace bin {

const uint8_t* upper_table() {
    static uint8_t table[256];
    static std::once_flag built;
    std::call_once(built, [] {
        for (int c = 0; c < 256; ++c) table[c] = static_cast<uint8_t>(c);
        // Byte 0 is left alone: CharUpperBuffA stops at nothing, but the
        // table must keep NUL as NUL.
        CharUpperBuffA(reinterpret_cast<char*>(table + 1), 255);
    });
    return table;
}

int64_t find_bytes(const uint8_t* hay, int64_t lo, int64_t hi, const uint8_t* pat, int64_t n, bool forward,
                   bool fold) {
    if (n <= 0 || hi - lo < n) return -1;
    const uint8_t* up = fold ? upper_table() : nullptr;
    auto same = [&](int64_t p) {
        if (!fold) return memcmp(hay + p, pat, static_cast<size_t>(n)) == 0;
        for (int64_t k = 0; k < n; ++k)
            if (up[hay[p + k]] != up[pat[k]]) return false;
        return true;
    };
    const int64_t last = hi - n;
    if (forward) {
        for (int64_t p = lo; p <= last; ++p) {
            if (!fold) {   // memchr finds candidates for the first byte quickly
                const void* q = memchr(hay + p, pat[0], static_cast<size_t>(last - p + 1));
                if (!q) return -1;
                p = static_cast<const uint8_t*>(q) - hay;
            }
            if (same(p)) return p;
        }
    } else {
        for (int64_t p = last; p >= lo; --p)
            if (same(p)) return p;
    }
    return -1;
}

WorkBlock::WorkBlock(State* st, size_t bytes)
    : p_(static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, bytes ? bytes : 1))) {
    if (!p_) st->err = 1588;
}

WorkBlock::~WorkBlock() {
    if (p_) GlobalFree(p_);
}

void set_handle(State* st, Cell* result, int32_t handle) {
    if (cell_set_int(st, result, handle)) result->type = TW_BINBUF;
}

}  // namespace bin
