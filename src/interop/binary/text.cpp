// Strings and hex text in buffers: BinaryPeekStr, BinaryPokeStr,
// BinaryPeekStrW, BinaryPokeStrW, BinaryPeekHex, BinaryPokeHex.
#include "interop/binary/binary.h"
#include "interop/binary/functions.h"
#include "heap.h"
#include <cstring>
#include <string>

using namespace bin;

namespace {

// The bytes a string reader may take at `off`: up to `max`, stopping at the
// end of data (0 when the offset is at or past it).
int64_t readable(const BinSlot* b, int64_t off, int64_t max) {
    return off >= b->eod ? 0 : (max < b->eod - off ? max : b->eod - off);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A result string of `len` bytes built in place in the string heap.
char* result_text(State* st, Cell* result, size_t len) {
    cell_release(st, result, CM_BARE);
    cell_init(result);
    const uint64_t h = VMalloc(st, len + 1);
    if (!h) return st->err = 3096, nullptr;
    result->str = h;
    result->type = TW_STRING;
    char* p = heap_ptr(st, h);
    p[len] = 0;
    return p;
}

}  // namespace

// BinaryPeekStr(handle, offset, max): up to max bytes from the offset,
// stopping at the end of data; the text ends at the first NUL among them.
void fn_binarypeekstr(State* st, int, Cell* result, Cell* args, bool) {
    const BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t off = arg64(args[2]), max = arg64(args[3]);
    if (off == b->eod && max == 0) return void(cell_set_str(st, result, "", 0));
    if (off < 0 || max < 0 || off >= b->size) return void(st->err = 2331);
    const char* p = reinterpret_cast<const char*>(b->addr + off);
    const int64_t n = readable(b, off, max);
    const void* nul = memchr(p, 0, static_cast<size_t>(n));
    cell_set_str(st, result, p, nul ? static_cast<const char*>(nul) - p : static_cast<size_t>(n));
}

// BinaryPokeStr(handle, offset, text): the text's bytes without a
// terminator; returns their count.
void fn_binarypokestr(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t off = arg64(args[2]);
    const char* s = cell_str(st, &args[3]);
    const int64_t n = static_cast<int64_t>(strlen(s));
    if (off < 0) return void(st->err = 1548);
    if (off > b->size || n > b->size - off) return void(st->err = 2332);
    memcpy(b->addr + off, s, static_cast<size_t>(n));
    binbuf_touch(b, off + n);
    set64(st, result, n);
}

// BinaryPeekStrW(handle, offset, max bytes [, big-endian]): UTF-16 text of up
// to max bytes (an even count), stopping at the end of data and at the first
// NUL code unit. Non-zero big-endian reads the units high byte first.
void fn_binarypeekstrw(State* st, int nargs, Cell* result, Cell* args, bool) {
    const BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t off = arg64(args[2]), max = arg64(args[3]);
    const bool bigEndian = nargs >= 4 && args[4].i != 0;
    if (off < 0) return void(st->err = 1548);
    if (max < 0 || (max & 1)) return void(st->err = 1765);
    if (off == b->eod && max == 0) return void(cell_set_wstr(st, result, L"", 0));
    if (off >= b->size) return void(st->err = 1766);
    const size_t units = static_cast<size_t>(readable(b, off, max) / 2);
    std::wstring text;
    text.reserve(units);
    const uint8_t* p = b->addr + off;
    for (size_t k = 0; k < units; ++k, p += 2) {
        const wchar_t u = static_cast<wchar_t>(bigEndian ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]));
        if (!u) break;
        text.push_back(u);
    }
    cell_set_wstr(st, result, text.data(), text.size());
}

// BinaryPokeStrW(handle, offset, text [, big-endian]): the UTF-16 units
// without a terminator; returns the byte count.
void fn_binarypokestrw(State* st, int nargs, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t off = arg64(args[2]);
    const wchar_t* s = cell_wstr(st, &args[3]);
    const bool bigEndian = nargs >= 4 && args[4].i != 0;
    const int64_t n = 2 * static_cast<int64_t>(wcslen(s));
    if (!check_range(st, b, off, n)) return;
    uint8_t* p = b->addr + off;
    for (; *s; ++s, p += 2) {
        p[bigEndian ? 1 : 0] = static_cast<uint8_t>(*s & 0xFF);
        p[bigEndian ? 0 : 1] = static_cast<uint8_t>(*s >> 8);
    }
    binbuf_touch(b, off + n);
    set64(st, result, n);
}

// BinaryPeekHex(handle, offset, count): two upper-case hex digits per byte.
void fn_binarypeekhex(State* st, int, Cell* result, Cell* args, bool) {
    const BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t off = arg64(args[2]), n = arg64(args[3]);
    if (!check_range(st, b, off, n)) return;
    if (static_cast<uint64_t>(n) > (SIZE_MAX - 1) / 2) return void(st->err = 3096);
    char* out = result_text(st, result, static_cast<size_t>(2 * n));
    if (!out) return;
    static const char digits[] = "0123456789ABCDEF";
    for (int64_t k = 0; k < n; ++k) {
        out[2 * k] = digits[b->addr[off + k] >> 4];
        out[2 * k + 1] = digits[b->addr[off + k] & 15];
    }
}

// BinaryPokeHex(handle, offset, hex): one byte per two hex digits (either
// case); returns the byte count.
void fn_binarypokehex(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t off = arg64(args[2]);
    const char* hex = cell_str(st, &args[3]);
    const size_t len = strlen(hex);
    if (off < 0) return void(st->err = 1548);
    if (len & 1) return void(st->err = 1720);
    for (size_t k = 0; k < len; ++k)
        if (hex_digit(hex[k]) < 0) return void(st->err = 1720);
    const int64_t n = static_cast<int64_t>(len / 2);
    if (off > b->size || n > b->size - off) return void(st->err = 1721);
    for (int64_t k = 0; k < n; ++k)
        b->addr[off + k] = static_cast<uint8_t>(hex_digit(hex[2 * k]) << 4 | hex_digit(hex[2 * k + 1]));
    binbuf_touch(b, off + n);
    set64(st, result, n);
}
