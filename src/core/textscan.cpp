// Text scans with SSE2 (textscan.h), 64 bytes a step. Every load is of an
// aligned 16-byte block, and an aligned block never crosses a page boundary,
// so reading the whole blocks around the first and last unit wanted never
// touches memory that may not be there; the bits of bytes outside the range
// are masked off.
#include "textscan.h"
#include <emmintrin.h>
#include <cstdint>
#include <cstring>

namespace {

// One bit per byte of the 64 aligned bytes at p: set where the byte (Wide:
// the 16-bit unit, both of its bits) equals c.
template <bool Wide>
inline uint64_t match64(const char* p, __m128i c) {
    auto eq = [&](int k) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(Wide ? _mm_cmpeq_epi16(v, c) : _mm_cmpeq_epi8(v, c))));
    };
    return eq(0) | eq(1) << 16 | eq(2) << 32 | eq(3) << 48;
}

// match64 for two values at once, loading the chunk once.
template <bool Wide>
inline void match64x2(const char* p, __m128i c, __m128i d, uint64_t* cbits, uint64_t* dbits) {
    uint64_t cm = 0, dm = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        const __m128i ec = Wide ? _mm_cmpeq_epi16(v, c) : _mm_cmpeq_epi8(v, c);
        const __m128i ed = Wide ? _mm_cmpeq_epi16(v, d) : _mm_cmpeq_epi8(v, d);
        cm |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(ec))) << (16 * k);
        dm |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(ed))) << (16 * k);
    }
    *cbits = cm;
    *dbits = dm;
}

// Whether any byte (unit) of the 64 aligned bytes at p equals c.
template <bool Wide>
inline bool any64(const char* p, __m128i c) {
    auto eq = [&](int k) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        return Wide ? _mm_cmpeq_epi16(v, c) : _mm_cmpeq_epi8(v, c);
    };
    return _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(eq(0), eq(1)), _mm_or_si128(eq(2), eq(3)))) != 0;
}

inline unsigned popcount64(uint64_t x) {   // without the popcnt instruction, which not every processor has
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<unsigned>((x * 0x0101010101010101ull) >> 56);
}

// Walks the 64-byte aligned chunks that cover [start, start + limit) (no
// limit: SIZE_MAX) and returns the byte offset from start of the k-th match
// (SIZE_MAX when there are fewer), counting matches in *seen. A match sets
// `per` bits. k = SIZE_MAX counts them all.
template <bool Wide>
size_t scan_chunks(const char* start, __m128i c, size_t limit, size_t k, size_t* seen) {
    constexpr unsigned per = Wide ? 2 : 1;
    const uintptr_t addr = reinterpret_cast<uintptr_t>(start);
    const char* chunk = reinterpret_cast<const char*>(addr & ~uintptr_t{63});
    const size_t skip = addr & 63;
    const size_t end = limit == SIZE_MAX ? SIZE_MAX : skip + limit;   // range end, from `chunk`
    *seen = 0;
    for (size_t base = 0; base < end; base += 64) {
        // Whole chunks without a match are passed with one test.
        if (base && end - base >= 64 && !any64<Wide>(chunk + base, c)) continue;
        uint64_t bits = match64<Wide>(chunk + base, c);
        if (base == 0) bits &= ~0ull << skip;
        if (end - base < 64) bits &= (uint64_t{1} << (end - base)) - 1;
        if (!bits) continue;
        const size_t found = popcount64(bits) / per;
        if (*seen + found < k) {
            *seen += found;
            continue;
        }
        for (size_t left = k - *seen; left > 1; --left) {   // drop the matches before the k-th
            bits &= bits - 1;
            if (Wide) bits &= bits - 1;
        }
        *seen = k;
        return base + static_cast<size_t>(__builtin_ctzll(bits)) - skip;
    }
    return SIZE_MAX;
}

// The first match: most texts are short, so the aligned 16-byte blocks up to
// the first 64-byte boundary are tested one by one before the chunk walk.
template <bool Wide>
size_t scan_first(const char* start, __m128i c, size_t limit, size_t* seen) {
    const uintptr_t addr = reinterpret_cast<uintptr_t>(start);
    const char* block = reinterpret_cast<const char*>(addr & ~uintptr_t{15});
    const size_t skip = addr & 15;
    const size_t end = limit == SIZE_MAX ? SIZE_MAX : skip + limit;   // range end, from `block`
    size_t base = 0;
    *seen = 0;
    do {
        if (base >= end) return SIZE_MAX;
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(block + base));
        unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(Wide ? _mm_cmpeq_epi16(v, c) : _mm_cmpeq_epi8(v, c)));
        if (base == 0) bits &= ~0u << skip;
        if (end - base < 16) bits &= (1u << (end - base)) - 1;
        if (bits) {
            *seen = 1;
            return base + static_cast<size_t>(__builtin_ctz(bits)) - skip;
        }
        base += 16;
    } while (reinterpret_cast<uintptr_t>(block + base) & 63);
    if (base >= end) return SIZE_MAX;
    const size_t at = scan_chunks<Wide>(block + base, c, end == SIZE_MAX ? SIZE_MAX : end - base, 1, seen);
    return at == SIZE_MAX ? SIZE_MAX : at + base - skip;
}

template <bool Wide>
size_t scan(const char* start, __m128i c, size_t limit, size_t k, size_t* seen) {
    return k == 1 ? scan_first<Wide>(start, c, limit, seen) : scan_chunks<Wide>(start, c, limit, k, seen);
}

// The k-th match of c (k >= 1) before the first zero unit, from `start`:
// its byte offset, or SIZE_MAX with *zero the offset of the zero unit.
template <bool Wide>
size_t scan_z(const char* start, __m128i c, size_t k, size_t* zero) {
    constexpr unsigned per = Wide ? 2 : 1;
    const __m128i z = _mm_setzero_si128();
    const uintptr_t addr = reinterpret_cast<uintptr_t>(start);
    const char* chunk = reinterpret_cast<const char*>(addr & ~uintptr_t{63});
    const size_t skip = addr & 63;
    size_t seen = 0;
    for (size_t base = 0;; base += 64) {
        // Lists are dense in delimiters, so both masks are built from one
        // load of the chunk rather than testing it for any match first.
        uint64_t bits, zeros;
        match64x2<Wide>(chunk + base, c, z, &bits, &zeros);
        if (!(bits | zeros)) continue;
        if (base == 0) {
            bits &= ~0ull << skip;
            zeros &= ~0ull << skip;
        }
        size_t zeroAt = 64;
        if (zeros) {
            zeroAt = static_cast<size_t>(__builtin_ctzll(zeros));
            bits &= zeroAt ? (~0ull >> (64 - zeroAt)) : 0;
        }
        const size_t found = popcount64(bits) / per;
        if (seen + found >= k) {
            for (size_t left = k - seen; left > 1; --left) {
                bits &= bits - 1;
                if (Wide) bits &= bits - 1;
            }
            return base + static_cast<size_t>(__builtin_ctzll(bits)) - skip;
        }
        seen += found;
        if (zeros) {
            *zero = base + zeroAt - skip;
            return SIZE_MAX;
        }
    }
}

inline bool odd(const void* p) { return reinterpret_cast<uintptr_t>(p) & 1; }

}  // namespace

size_t text_len(const char* s) {
    size_t seen;
    return scan<false>(s, _mm_setzero_si128(), SIZE_MAX, 1, &seen);
}

size_t text_len(const wchar_t* s) {
    if (odd(s)) {   // not aligned to its units: one unit at a time
        size_t n = 0;
        while (s[n]) ++n;
        return n;
    }
    size_t seen;
    return scan<true>(reinterpret_cast<const char*>(s), _mm_setzero_si128(), SIZE_MAX, 1, &seen) / 2;
}

const char* text_find(const char* p, size_t n, char c) { return text_nth(p, n, c, 1); }
const wchar_t* text_find(const wchar_t* p, size_t n, wchar_t c) { return text_nth(p, n, c, 1); }

const char* text_nth(const char* p, size_t n, char c, size_t k, size_t* count) {
    size_t seen = 0, at = SIZE_MAX;
    if (n) at = scan<false>(p, _mm_set1_epi8(c), n, k ? k : SIZE_MAX, &seen);
    if (count) *count = seen;
    return at == SIZE_MAX ? nullptr : p + at;
}

const wchar_t* text_nth(const wchar_t* p, size_t n, wchar_t c, size_t k, size_t* count) {
    size_t seen = 0, at = SIZE_MAX;
    if (odd(p)) {
        for (size_t i = 0; i < n && at == SIZE_MAX; ++i)
            if (p[i] == c && ++seen == k) at = i * 2;
    } else if (n) {
        at = scan<true>(reinterpret_cast<const char*>(p), _mm_set1_epi16(static_cast<short>(c)), n * 2,
                        k ? k : SIZE_MAX, &seen);
    }
    if (count) *count = seen;
    return at == SIZE_MAX ? nullptr : p + at / 2;
}

const char* text_nth_z(const char* s, char c, size_t k, const char** end) {
    size_t zero = 0;
    const size_t at = k ? scan_z<false>(s, _mm_set1_epi8(c), k, &zero) : SIZE_MAX;
    if (at != SIZE_MAX) return s + at;
    *end = k ? s + zero : s + text_len(s);
    return nullptr;
}

const wchar_t* text_nth_z(const wchar_t* s, wchar_t c, size_t k, const wchar_t** end) {
    if (odd(s) || !k) {
        size_t seen = 0, i = 0;
        for (; s[i]; ++i)
            if (s[i] == c && k && ++seen == k) return s + i;
        *end = s + i;
        return nullptr;
    }
    size_t zero = 0;
    const size_t at = scan_z<true>(reinterpret_cast<const char*>(s), _mm_set1_epi16(static_cast<short>(c)), k, &zero);
    if (at != SIZE_MAX) return s + at / 2;
    *end = s + zero / 2;
    return nullptr;
}

void text_copy_z(char* to, const char* from, size_t size) {
    // Most texts copied this way are short (a token, a line, a path): the
    // first four blocks are tested here, the rest by the chunk scan.
    const size_t limit = size - 1;
    const uintptr_t addr = reinterpret_cast<uintptr_t>(from);
    const char* block = reinterpret_cast<const char*>(addr & ~uintptr_t{15});
    const size_t skip = addr & 15;
    size_t n = SIZE_MAX;
    for (size_t base = 0; base < 64; base += 16) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(block + base));
        unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
        if (base == 0) bits &= ~0u << skip;
        if (bits) {
            n = base + static_cast<size_t>(__builtin_ctz(bits)) - skip;
            break;
        }
        if (base + 16 - skip >= limit) break;
    }
    if (n == SIZE_MAX && limit > 64 - skip) {
        const char* end = text_find(from + (64 - skip), limit - (64 - skip), '\0');
        n = end ? static_cast<size_t>(end - from) : limit;
    }
    if (n > limit) n = limit;
    text_copy(to, from, n);
    to[n] = 0;
}

bool text_equal_in(const char* a, const char* b, size_t size) {
    size_t k = 0;
    for (; k + 16 <= size; k += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
        const unsigned same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(va, vb)));
        const unsigned zero = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(va, _mm_setzero_si128())));
        if (same != 0xFFFF || zero) {
            // Equal when the texts end before their first difference.
            const unsigned diff = same != 0xFFFF ? static_cast<unsigned>(__builtin_ctz(~same)) : 16;
            const unsigned end = zero ? static_cast<unsigned>(__builtin_ctz(zero)) : 16;
            return end < diff;
        }
    }
    for (; k < size; ++k) {
        if (a[k] != b[k]) return false;
        if (!a[k]) return true;
    }
    return true;
}

void text_copy(void* dst, const void* src, size_t n) {
    auto* d = static_cast<unsigned char*>(dst);
    const auto* s = static_cast<const unsigned char*>(src);
    if (n >= 512) {   // long copies: the runtime's own copy moves them faster
        memcpy(d, s, n);
        return;
    }
    if (n >= 16) {
        // Unaligned blocks; the last one may overlap the one before it.
        const size_t last = n - 16;
        for (size_t i = 0; i < last; i += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + last), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + last)));
        return;
    }
    if (n >= 8) {
        uint64_t a, b;
        __builtin_memcpy(&a, s, 8);
        __builtin_memcpy(&b, s + n - 8, 8);
        __builtin_memcpy(d, &a, 8);
        __builtin_memcpy(d + n - 8, &b, 8);
        return;
    }
    for (size_t i = 0; i < n; ++i) d[i] = s[i];
}
