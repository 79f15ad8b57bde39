// Hexadecimal text: ChrHexToString and ChrStringToHex (two digits per byte of
// the ANSI form), ChrHexToUnicode and ChrUnicodeToHex (four digits per
// UTF-16 unit, low byte first unless `order` is non-zero).
#include "library/strings/strings.h"

using namespace strings;

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

constexpr char kDigits[] = "0123456789ABCDEF";

// The hex text's length must be a multiple of `group` and every character a
// hex digit; 1819 otherwise.
bool valid_hex(State* st, const char* s, size_t len, size_t group) {
    bool ok = len % group == 0;
    for (size_t i = 0; ok && i < len; ++i) ok = hex_value(s[i]) >= 0;
    if (!ok) st->err = 1819;
    return ok;
}

int byte_at(const char* s) { return hex_value(s[0]) * 16 + hex_value(s[1]); }

}  // namespace

void fn_chrhextostring(State* st, int, Cell* result, Cell* args, bool) {
    const char* hex = cell_str(st, &args[1]);
    const size_t len = strlen(hex);
    if (!valid_hex(st, hex, len, 2)) return;
    char* out = result_alloc<char>(st, result, len / 2);
    if (!out) return;
    for (size_t i = 0; i < len; i += 2) *out++ = static_cast<char>(byte_at(hex + i));
}

void fn_chrhextounicode(State* st, int nargs, Cell* result, Cell* args, bool) {
    const char* hex = cell_str(st, &args[1]);
    const bool natural = nargs >= 2 && args[2].i != 0;
    const size_t len = strlen(hex);
    if (!valid_hex(st, hex, len, 4)) return;
    wchar_t* out = result_alloc<wchar_t>(st, result, len / 4);
    if (!out) return;
    for (size_t i = 0; i < len; i += 4) {
        const int first = byte_at(hex + i), second = byte_at(hex + i + 2);
        *out++ = static_cast<wchar_t>(natural ? first << 8 | second : second << 8 | first);
    }
}

void fn_chrstringtohex(State* st, int, Cell* result, Cell* args, bool) {
    const uint8_t* s = reinterpret_cast<const uint8_t*>(cell_str(st, &args[1]));
    const size_t len = strlen(reinterpret_cast<const char*>(s));
    char* out = result_alloc<char>(st, result, uint64_t{len} * 2);
    if (!out) return;
    for (size_t i = 0; i < len; ++i) {
        *out++ = kDigits[s[i] >> 4];
        *out++ = kDigits[s[i] & 15];
    }
}

void fn_chrunicodetohex(State* st, int nargs, Cell* result, Cell* args, bool) {
    const wchar_t* s = cell_wstr(st, &args[1]);
    const bool natural = nargs >= 2 && args[2].i != 0;
    const size_t len = wcslen(s);
    char* out = result_alloc<char>(st, result, uint64_t{len} * 4);
    if (!out) return;
    for (size_t i = 0; i < len; ++i) {
        const unsigned u = s[i], hi = u >> 8, lo = u & 0xFF;
        const unsigned first = natural ? hi : lo, second = natural ? lo : hi;
        const char digits[4] = {kDigits[first >> 4], kDigits[first & 15], kDigits[second >> 4], kDigits[second & 15]};
        memcpy(out, digits, 4);
        out += 4;
    }
}
