// BinaryChecksum: checksums and digests of a buffer's data.
#include "interop/binary/binary.h"
#include "interop/binary/functions.h"
#include <wincrypt.h>
#include <zlib.h>

using namespace bin;

namespace {

// CRC-16 with the reflected polynomial 0xA001 and initial value 0 (the
// "ARC" variant used by archivers).
uint32_t crc16(const uint8_t* p, int64_t n) {
    uint32_t crc = 0;
    for (int64_t k = 0; k < n; ++k) {
        crc ^= p[k];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

// zlib's running checksums take at most 4 GB per call.
template <class Fn>
uint32_t running(Fn fn, const uint8_t* p, int64_t n) {
    uLong v = fn(0, Z_NULL, 0);
    for (; n > 0; p += 1 << 30, n -= 1 << 30) v = fn(v, p, static_cast<uInt>(n < (1 << 30) ? n : 1 << 30));
    return static_cast<uint32_t>(v);
}

// A digest by the system's cryptographic provider, as upper-case hex text.
// False with 1704 and the failing call recorded when the provider refuses.
class Digest {
public:
    ~Digest() {
        if (hash_) CryptDestroyHash(hash_);
        if (prov_) CryptReleaseContext(prov_, 0);
    }
    bool run(State* st, ALG_ID alg, const uint8_t* p, int64_t n, Cell* result) {
        if (!CryptAcquireContextW(&prov_, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
            return failed(st, "CryptAcquireContext");
        if (!CryptCreateHash(prov_, alg, 0, 0, &hash_)) return failed(st, "CryptCreateHash");
        for (; n > 0; p += 1 << 30, n -= 1 << 30)
            if (!CryptHashData(hash_, p, static_cast<DWORD>(n < (1 << 30) ? n : 1 << 30), 0))
                return failed(st, "CryptHashData");
        BYTE value[64];
        DWORD len = sizeof value;
        if (!CryptGetHashParam(hash_, HP_HASHVAL, value, &len, 0)) return failed(st, "CryptGetHashParam");
        char text[2 * sizeof value + 1];
        static const char digits[] = "0123456789ABCDEF";
        for (DWORD k = 0; k < len; ++k) {
            text[2 * k] = digits[value[k] >> 4];
            text[2 * k + 1] = digits[value[k] & 15];
        }
        return cell_set_str(st, result, text, 2 * len);
    }

private:
    bool failed(State* st, const char* call) {
        platform_error(st, call, GetLastError());
        st->err = 1704;
        return false;
    }
    HCRYPTPROV prov_ = 0;
    HCRYPTHASH hash_ = 0;
};

}  // namespace

// BinaryChecksum(handle, request) over offset 0 to the end of data:
//   0 MD5, 3 SHA-1, 4 SHA-256, 5 SHA-384, 6 SHA-512: upper-case hex text;
//   1 CRC-16, 2 CRC-32, 7 Adler-32: the value as INT (32 bits, so a CRC-32
//   with the top bit set is negative).
void fn_binarychecksum(State* st, int, Cell* result, Cell* args, bool) {
    const BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    static const ALG_ID digests[] = {CALG_MD5, 0, 0, CALG_SHA1, CALG_SHA_256, CALG_SHA_384, CALG_SHA_512};
    const int request = args[2].i;
    switch (request) {
    case 1: cell_set_int(st, result, static_cast<int32_t>(crc16(b->addr, b->eod))); return;
    case 2: cell_set_int(st, result, static_cast<int32_t>(running(crc32, b->addr, b->eod))); return;
    case 7: cell_set_int(st, result, static_cast<int32_t>(running(adler32, b->addr, b->eod))); return;
    case 0: case 3: case 4: case 5: case 6: {
        Digest d;
        d.run(st, digests[request], b->addr, b->eod, result);
        return;
    }
    default: st->err = 1704; return;
    }
}
