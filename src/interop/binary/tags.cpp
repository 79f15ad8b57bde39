// Blocks between a start tag and an end tag: BinaryTagInit, BinaryTagFind,
// BinaryTagExtr, BinaryTagIndex, BinaryTagLen, BinaryTagRepl.
//
// The search state travels in a text the script passes back and forth:
// total length, slot index, position of the last start tag found, state (73
// after BinaryTagInit or BinaryTagRepl: search from the position; 70 after a
// find: search after the block found), start-tag length, end-tag length, data
// length, in hex, then the start tag, a blank, the end tag and a blank.
// Tags are matched without regard to case.
#include "interop/binary/binary.h"
#include "interop/binary/functions.h"
#include <cstdio>
#include <cstring>
#include <string>

using namespace bin;

namespace {

constexpr int kHeader = 56;            // the hex fields
constexpr uint32_t kSearchFrom = 73;   // search from the position
constexpr uint32_t kFound = 70;        // a block was found at the position

struct Tags {
    BinSlot*    buf;
    uint32_t    slot;
    uint64_t    pos;
    uint32_t    state;
    uint64_t    dataLen;
    std::string start, end;

    uint64_t block() const { return start.size() + dataLen + end.size(); }
};

bool hex_field(const char* p, int width, uint64_t* out) {
    uint64_t v = 0;
    for (int k = 0; k < width; ++k) {
        const char c = p[k];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0) return false;
        v = v << 4 | static_cast<uint64_t>(d);
    }
    *out = v;
    return true;
}

// Parses the structure text (1581 when it is not one; 3023 when its buffer
// has been freed).
bool parse(State* st, const Cell& arg, Tags* t) {
    const char* s = cell_str(st, &arg);
    const size_t len = strlen(s);
    static const int widths[] = {8, 8, 16, 8, 4, 4, 8};
    uint64_t f[7];
    if (len < kHeader + 2) return fail(st, 1581);
    for (int k = 0, at = 0; k < 7; at += widths[k], ++k)
        if (!hex_field(s + at, widths[k], &f[k])) return fail(st, 1581);
    const uint64_t startLen = f[4], endLen = f[5];
    if (f[0] != len || startLen == 0 || endLen == 0 || startLen + endLen + kHeader + 2 != len ||
        s[kHeader + startLen] != ' ' || s[len - 1] != ' ' || f[1] >= MAX_BINBUF ||
        (f[3] != kSearchFrom && f[3] != kFound))
        return fail(st, 1581);
    t->buf = binbuf_check(st, BINBUF_BASE + static_cast<int64_t>(f[1]));
    if (!t->buf) return false;
    t->slot = static_cast<uint32_t>(f[1]);
    t->pos = f[2];
    t->state = static_cast<uint32_t>(f[3]);
    t->dataLen = f[6];
    t->start.assign(s + kHeader, startLen);
    t->end.assign(s + kHeader + startLen + 1, endLen);
    // A block found must still lie within the buffer's data.
    if (t->pos > static_cast<uint64_t>(t->buf->eod) ||
        (t->state == kFound && t->block() > static_cast<uint64_t>(t->buf->eod) - t->pos))
        return fail(st, 1581);
    return true;
}

// The structure text as the result (1582 when it cannot be stored).
void emit(State* st, Cell* result, const Tags& t) {
    char head[kHeader + 1];
    snprintf(head, sizeof head, "%08lX%08lX%016llX%08lX%04lX%04lX%08lX",
             static_cast<unsigned long>(kHeader + 2 + t.start.size() + t.end.size()),
             static_cast<unsigned long>(t.slot), static_cast<unsigned long long>(t.pos),
             static_cast<unsigned long>(t.state), static_cast<unsigned long>(t.start.size()),
             static_cast<unsigned long>(t.end.size()), static_cast<unsigned long>(t.dataLen));
    const std::string text = head + t.start + " " + t.end + " ";
    if (!cell_set_str(st, result, text.data(), text.size())) st->err = 1582;
}

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

// BinaryTagInit(handle, start tag, end tag): a fresh structure that searches
// from offset 0. An empty tag is 1580.
void fn_binarytaginit(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    Tags t{b, static_cast<uint32_t>(args[1].i - BINBUF_BASE), 0, kSearchFrom, 0,
           cell_str(st, &args[2]), cell_str(st, &args[3])};
    if (t.start.empty() || t.end.empty()) return void(st->err = 1580);
    if (t.start.size() > 0xFFFF || t.end.size() > 0xFFFF) return void(st->err = 1581);
    emit(st, result, t);
}

// BinaryTagFind(structure): the next block in the data; the updated
// structure, or "" when there is none.
void fn_binarytagfind(State* st, int, Cell* result, Cell* args, bool) {
    Tags t;
    if (!parse(st, args[1], &t)) return;
    const int64_t from = static_cast<int64_t>(t.state == kFound ? t.pos + t.block() : t.pos);
    const BinSlot* b = t.buf;
    const int64_t at = find_bytes(b->addr, from, b->eod, bytes(t.start), static_cast<int64_t>(t.start.size()), true, true);
    const int64_t data = at + static_cast<int64_t>(t.start.size());
    const int64_t close = at < 0 ? -1 : find_bytes(b->addr, data, b->eod, bytes(t.end),
                                                   static_cast<int64_t>(t.end.size()), true, true);
    if (close < 0) return void(cell_set_str(st, result, "", 0));
    t.pos = static_cast<uint64_t>(at);
    t.state = kFound;
    t.dataLen = static_cast<uint64_t>(close - data);
    emit(st, result, t);
}

// BinaryTagExtr(structure, flags): the text of the block found (flags bit 0:
// with its tags, else only the data between them); "" before a find. The
// text ends at a NUL byte within it.
void fn_binarytagextr(State* st, int, Cell* result, Cell* args, bool) {
    Tags t;
    if (!parse(st, args[1], &t)) return;
    if (t.state != kFound) return void(cell_set_str(st, result, "", 0));
    const bool withTags = args[2].i & 1;
    const char* p = reinterpret_cast<const char*>(t.buf->addr + t.pos + (withTags ? 0 : t.start.size()));
    const size_t n = static_cast<size_t>(withTags ? t.block() : t.dataLen);
    const void* nul = memchr(p, 0, n);
    if (!cell_set_str(st, result, p, nul ? static_cast<const char*>(nul) - p : n)) st->err = 1582;
}

// BinaryTagIndex(structure, mode): offset of the block found (mode 0: its
// start tag; otherwise its data); -1 before a find.
void fn_binarytagindex(State* st, int, Cell* result, Cell* args, bool) {
    Tags t;
    if (!parse(st, args[1], &t)) return;
    if (t.state != kFound) return set64(st, result, -1);
    set64(st, result, static_cast<int64_t>(t.pos + (args[2].i ? t.start.size() : 0)));
}

// BinaryTagLen(structure, mode): length of the block found (mode 0: its data;
// otherwise with both tags); 0 before a find.
void fn_binarytaglen(State* st, int, Cell* result, Cell* args, bool) {
    Tags t;
    if (!parse(st, args[1], &t)) return;
    const uint64_t n = t.state != kFound ? 0 : args[2].i ? t.block() : t.dataLen;
    cell_set_int(st, result, static_cast<int32_t>(n));
}

// BinaryTagRepl(structure, text): replaces the block found, tags included,
// by the text (the data after it moves; the end of data follows) and returns
// a structure that searches on after the replacement. Before a find the
// structure comes back unchanged. 1655 when the result would not fit.
void fn_binarytagrepl(State* st, int, Cell* result, Cell* args, bool) {
    Tags t;
    if (!parse(st, args[1], &t)) return;
    if (t.state != kFound) return emit(st, result, t);
    BinSlot* b = t.buf;
    const char* text = cell_str(st, &args[2]);
    const int64_t n = static_cast<int64_t>(strlen(text));
    const int64_t pos = static_cast<int64_t>(t.pos), old = static_cast<int64_t>(t.block());
    const int64_t length = b->eod - old + n;
    if (length > b->size) return void(st->err = 1655);
    memmove(b->addr + pos + n, b->addr + pos + old, static_cast<size_t>(b->eod - pos - old));
    memcpy(b->addr + pos, text, static_cast<size_t>(n));
    if (length < b->eod) memset(b->addr + length, 0, static_cast<size_t>(b->eod - length));
    b->eod = length;
    t.pos = static_cast<uint64_t>(pos + n);
    t.state = kSearchFrom;
    t.dataLen = 0;
    emit(st, result, t);
}
