// Fixed-size records in a buffer: BinarySort and BinaryHashRec. Both take
// (handle, record size, key offset, key size, ...); the key is the field of
// key-size bytes at key offset inside each record.
#include "interop/binary/binary.h"
#include "interop/binary/functions.h"
#include "eval.h"
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace bin;

namespace {

enum : int { KEY_TEXT = 0, KEY_TEXT_NC = 1, KEY_SIGNED = 2, KEY_UNSIGNED = 3, KEY_FLOAT = 4 };
constexpr int kDescending = 16;   // @DESCENDING

// Record size, key offset and key size: 1474, 1475, 1476.
bool check_layout(State* st, int64_t rec, int64_t keyOff, int64_t keySize) {
    if (rec <= 0) return fail(st, 1474);
    if (keyOff < 0 || keyOff >= rec) return fail(st, 1475);
    if (keySize <= 0 || keySize > rec - keyOff) return fail(st, 1476);
    return true;
}

int64_t load_signed(const uint8_t* p, int64_t n) {
    uint64_t v = 0;
    memcpy(&v, p, static_cast<size_t>(n));
    const int shift = static_cast<int>(64 - 8 * n);
    return static_cast<int64_t>(v << shift) >> shift;
}

uint64_t load_unsigned(const uint8_t* p, int64_t n) {
    uint64_t v = 0;
    memcpy(&v, p, static_cast<size_t>(n));
    return v;
}

double load_float(const uint8_t* p, int64_t n) {
    if (n == 4) {
        float f;
        memcpy(&f, p, 4);
        return f;
    }
    double d;
    memcpy(&d, p, 8);
    return d;
}

// Three-way comparison of two keys of `n` bytes by key type.
int compare_keys(int type, const uint8_t* a, const uint8_t* b, int64_t n) {
    switch (type) {
    case KEY_TEXT: return memcmp(a, b, static_cast<size_t>(n));
    case KEY_TEXT_NC: {
        const uint8_t* up = upper_table();
        for (int64_t k = 0; k < n; ++k)
            if (up[a[k]] != up[b[k]]) return up[a[k]] < up[b[k]] ? -1 : 1;
        return 0;
    }
    case KEY_SIGNED: {
        const int64_t x = load_signed(a, n), y = load_signed(b, n);
        return x < y ? -1 : x > y;
    }
    case KEY_UNSIGNED: {
        const uint64_t x = load_unsigned(a, n), y = load_unsigned(b, n);
        return x < y ? -1 : x > y;
    }
    default: {
        const double x = load_float(a, n), y = load_float(b, n);
        return x < y ? -1 : x > y;
    }
    }
}

// The key of BinaryHashRec as ANSI text: strings as they are (wide ones in
// the script's code page), numbers by their text. Arrays and automation
// values are 1477.
bool key_bytes(State* st, const Cell& arg, std::string* out) {
    if (arg.type & (TW_ARRAY | TW_VARIANT)) return fail(st, 1477);
    Cell c;
    cell_init(&c);
    if (!cell_copy(st, &c, &arg, CM_BARE | CC_DUPSTRINGS)) return false;
    const bool ok = conv_to_ansi(st, &c);
    if (ok) *out = cell_str(st, &c);
    cell_release(st, &c, CM_BARE);
    return ok || (!st->err && fail(st, 1477));
}

// FNV-1a over the whole key field (the key padded with NUL bytes).
uint64_t hash_key(const uint8_t* key, int64_t n) {
    uint64_t h = 14695981039346656037ull;
    for (int64_t k = 0; k < n; ++k) h = (h ^ key[k]) * 1099511628211ull;
    return h;
}

}  // namespace

// BinarySort(handle, record size, key offset, key size, flags): sorts the
// records between offset 0 and the end of data (a whole number of records,
// else 1478) by their keys; equal keys keep their order. Flags: the key type
// in the low four bits (0 text, 1 text ignoring case, 2 signed integer, 3
// unsigned integer: keys of 1, 2, 4 or 8 bytes; 4 float: 4 or 8 bytes) plus
// @DESCENDING (16). Returns the number of records.
void fn_binarysort(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t rec = arg64(args[2]), keyOff = arg64(args[3]), keySize = arg64(args[4]);
    const int flags = args[5].i;
    if (!check_layout(st, rec, keyOff, keySize)) return;
    if (flags & ~(15 | kDescending)) return void(st->err = 1479);
    const int type = flags & 15;
    const bool intKey = keySize == 1 || keySize == 2 || keySize == 4 || keySize == 8;
    if (type > KEY_FLOAT || ((type == KEY_SIGNED || type == KEY_UNSIGNED) && !intKey) ||
        (type == KEY_FLOAT && keySize != 4 && keySize != 8))
        return void(st->err = 1477);
    if (b->eod % rec) return void(st->err = 1478);
    const int64_t count = b->eod / rec;
    std::vector<int64_t> order;
    try {
        order.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        return void(st->err = 1588);
    }
    for (int64_t k = 0; k < count; ++k) order[static_cast<size_t>(k)] = k;
    const uint8_t* keys = b->addr + keyOff;
    const int sign = (flags & kDescending) ? -1 : 1;
    std::stable_sort(order.begin(), order.end(), [&](int64_t x, int64_t y) {
        return sign * compare_keys(type, keys + x * rec, keys + y * rec, keySize) < 0;
    });
    WorkBlock sorted(st, static_cast<size_t>(b->eod));
    if (!sorted) return;
    for (int64_t k = 0; k < count; ++k)
        memcpy(sorted.get() + k * rec, b->addr + order[static_cast<size_t>(k)] * rec, static_cast<size_t>(rec));
    memcpy(b->addr, sorted.get(), static_cast<size_t>(b->eod));
    set64(st, result, count);
}

// BinaryHashRec(handle, record size, key offset, key size, key): the buffer
// is a hash table of records (its whole size, a whole number of records,
// else 1478). Finds the record whose key field holds the key (NUL-padded)
// and returns its offset; a key not present is stored in a free record (one
// whose key field is all NUL bytes), found by open addressing from the key's
// hash, and that record's offset returned. 1481 when no record is free. The
// key is text (numbers by their decimal text): empty or longer than the key
// size is 1476, another kind of value 1477.
void fn_binaryhashrec(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t rec = arg64(args[2]), keyOff = arg64(args[3]), keySize = arg64(args[4]);
    if (!check_layout(st, rec, keyOff, keySize)) return;
    std::string key;
    if (!key_bytes(st, args[5], &key)) return;
    if (key.empty() || static_cast<int64_t>(key.size()) > keySize) return void(st->err = 1476);
    if (b->size % rec) return void(st->err = 1478);
    const int64_t count = b->size / rec;
    if (count == 0) return void(st->err = 1481);
    std::string field(static_cast<size_t>(keySize), '\0');
    memcpy(field.data(), key.data(), key.size());
    const auto* want = reinterpret_cast<const uint8_t*>(field.data());
    const int64_t first = static_cast<int64_t>(hash_key(want, keySize) % static_cast<uint64_t>(count));
    for (int64_t probe = 0; probe < count; ++probe) {
        const int64_t at = (first + probe) % count * rec;
        uint8_t* slotKey = b->addr + at + keyOff;
        if (memcmp(slotKey, want, static_cast<size_t>(keySize)) == 0) return set64(st, result, at);
        bool empty = true;
        for (int64_t k = 0; k < keySize && empty; ++k) empty = slotKey[k] == 0;
        if (empty) {
            memcpy(slotKey, want, static_cast<size_t>(keySize));
            binbuf_touch(b, at + rec);
            return set64(st, result, at);
        }
    }
    st->err = 1481;
}
