// Text encodings and byte translation in place: BinaryConvert, BinaryXlate.
#include "interop/binary/binary.h"
#include "interop/binary/functions.h"
#include <cstring>
#include <vector>

using namespace bin;

namespace {

// Encodings of BinaryConvert.
enum : int { ENC_CODEPAGE = 0, ENC_UTF16LE = 1, ENC_UTF8 = 2, ENC_UTF16BE = 3, ENC_LAST = 3 };
constexpr int kWriteBom = 1;   // flags bit 0: a Unicode target starts with a byte-order mark

void swap_units(uint8_t* p, size_t bytes) {
    for (size_t k = 0; k + 1 < bytes; k += 2) std::swap(p[k], p[k + 1]);
}

// The data (without a byte-order mark) as UTF-16 code units; false with 1558.
bool decode(State* st, const uint8_t* p, int64_t n, int enc, UINT cp, std::vector<wchar_t>* out) {
    if (enc == ENC_UTF16LE || enc == ENC_UTF16BE) {
        if (n & 1) return fail(st, 1558);
        out->resize(static_cast<size_t>(n / 2));
        memcpy(out->data(), p, static_cast<size_t>(n));
        if (enc == ENC_UTF16BE) swap_units(reinterpret_cast<uint8_t*>(out->data()), static_cast<size_t>(n));
        if (!out->empty() && (*out)[0] == 0xFEFF) out->erase(out->begin());
        return true;
    }
    if (enc == ENC_UTF8 && n >= 3 && memcmp(p, "\xEF\xBB\xBF", 3) == 0) p += 3, n -= 3;
    if (n == 0) return out->clear(), true;
    if (n > INT32_MAX) return fail(st, 1558);
    const UINT from = enc == ENC_UTF8 ? CP_UTF8 : cp;
    const int units = MultiByteToWideChar(from, 0, reinterpret_cast<const char*>(p), static_cast<int>(n), nullptr, 0);
    if (units <= 0) return fail(st, 1558);
    out->resize(static_cast<size_t>(units));
    MultiByteToWideChar(from, 0, reinterpret_cast<const char*>(p), static_cast<int>(n), out->data(), units);
    return true;
}

// UTF-16 code units in the target encoding; false with 1558.
bool encode(State* st, const std::vector<wchar_t>& w, int enc, UINT cp, bool bom, std::vector<uint8_t>* out) {
    out->clear();
    if (enc == ENC_UTF16LE || enc == ENC_UTF16BE) {
        if (bom) out->insert(out->end(), {0xFF, 0xFE});
        const auto* p = reinterpret_cast<const uint8_t*>(w.data());
        out->insert(out->end(), p, p + 2 * w.size());
        if (enc == ENC_UTF16BE) swap_units(out->data(), out->size());
        return true;
    }
    if (enc == ENC_UTF8 && bom) out->insert(out->end(), {0xEF, 0xBB, 0xBF});
    if (w.empty()) return true;
    const UINT to = enc == ENC_UTF8 ? CP_UTF8 : cp;
    const int n = WideCharToMultiByte(to, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return fail(st, 1558);
    const size_t at = out->size();
    out->resize(at + static_cast<size_t>(n));
    WideCharToMultiByte(to, 0, w.data(), static_cast<int>(w.size()), reinterpret_cast<char*>(out->data() + at), n,
                        nullptr, nullptr);
    return true;
}

// Replaces the data of `b` by n bytes (zeroing what the old data leaves over).
void replace_data(BinSlot* b, const uint8_t* p, int64_t n) {
    memcpy(b->addr, p, static_cast<size_t>(n));
    if (n < b->eod) memset(b->addr + n, 0, static_cast<size_t>(b->eod - n));
    b->eod = n;
}

}  // namespace

// BinaryConvert(handle, source, target, code page, flags): converts the data
// (offset 0 to the end of data) from one text encoding to another, in place.
// Encodings: 0 8-bit text of the code page argument (0: the script's code
// page), 1 UTF-16 little-endian, 2 UTF-8, 3 UTF-16 big-endian. A byte-order
// mark at the start of Unicode data is dropped; flags bit 0 writes one for a
// Unicode target. Returns the new end of data.
void fn_binaryconvert(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int from = args[2].i, to = args[3].i, flags = args[5].i;
    if (from < 0 || from > ENC_LAST) return void(st->err = 1553);
    if (to < 0 || to > ENC_LAST) return void(st->err = 1554);
    if (from == to || (flags & ~kWriteBom)) return void(st->err = 1555);
    UINT cp = static_cast<UINT>(args[4].i);
    if (cp == 0) cp = st->codePage ? st->codePage : CP_ACP;
    if ((from == ENC_CODEPAGE || to == ENC_CODEPAGE) && cp > CP_THREAD_ACP && !IsValidCodePage(cp))
        return void(st->err = 1556);
    std::vector<wchar_t> wide;
    std::vector<uint8_t> out;
    try {
        if (!decode(st, b->addr, b->eod, from, cp, &wide) ||
            !encode(st, wide, to, cp, (flags & kWriteBom) && to != ENC_CODEPAGE, &out))
            return;
    } catch (const std::bad_alloc&) {
        return void(st->err = 1588);
    }
    if (static_cast<int64_t>(out.size()) > b->size) return void(st->err = 1557);
    replace_data(b, out.data(), static_cast<int64_t>(out.size()));
    set64(st, result, b->eod);
}

// BinaryXlate(data, table, mode): translates the data through a table held
// in another buffer (its data). Modes, by source and target character size:
//   0 bytes to bytes: a table of 256 bytes;
//   1 bytes to UTF-16 units: 256 units (the data doubles: the buffer must
//     hold twice the end of data);
//   2 UTF-16 units to bytes: 65536 bytes (the data halves);
//   3 UTF-16 units to UTF-16 units: 65536 units.
// Unit data must have an even length (1662). Returns the number of
// characters translated.
void fn_binaryxlate(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const BinSlot* table = buffer(st, args[2]);
    if (!table) return;
    const int mode = args[3].i;
    if (table == b) return void(st->err = 1656);
    if (mode < 0 || mode > 3) return void(st->err = 1658);
    const bool wideIn = mode >= 2, wideOut = mode & 1;
    const int64_t entries = wideIn ? 65536 : 256;
    if (table->eod < entries * (wideOut ? 2 : 1)) return void(st->err = 1657);
    if (wideIn && (b->eod & 1)) return void(st->err = 1662);
    const int64_t count = wideIn ? b->eod / 2 : b->eod;
    if (wideOut && !wideIn && count > b->size / 2) return void(st->err = 1659);
    uint8_t* p = b->addr;
    const uint8_t* t = table->addr;
    auto unit_at = [](const uint8_t* q, int64_t i) { return static_cast<uint32_t>(q[2 * i] | q[2 * i + 1] << 8); };
    switch (mode) {
    case 0:
        for (int64_t i = 0; i < count; ++i) p[i] = t[p[i]];
        break;
    case 1:   // from the end backwards, so the widening never overwrites unread bytes
        for (int64_t i = count - 1; i >= 0; --i) {
            const uint8_t c = p[i];
            p[2 * i] = t[2 * c];
            p[2 * i + 1] = t[2 * c + 1];
        }
        break;
    case 2:
        for (int64_t i = 0; i < count; ++i) p[i] = t[unit_at(p, i)];
        memset(p + count, 0, static_cast<size_t>(count));
        break;
    default:
        for (int64_t i = 0; i < count; ++i) {
            const uint32_t u = unit_at(p, i);
            p[2 * i] = t[2 * u];
            p[2 * i + 1] = t[2 * u + 1];
        }
        break;
    }
    b->eod = wideOut == wideIn ? b->eod : wideOut ? 2 * count : count;
    set64(st, result, count);
}
