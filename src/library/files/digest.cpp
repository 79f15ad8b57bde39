// FileDigest(filename, algorithm, flags [, key [, key size]]): the hash of a
// file's bytes as hex digits ("MD5", "SHA1", "SHA256", "SHA384", "SHA512"),
// upper case, or lower case with flags 1. With a key the result is the HMAC
// of the file under that key (its text, or its first key-size bytes when
// key size is given).
#include "library/files/internal.h"
#include "eval.h"
#include <wincrypt.h>
#include <cstring>
#include <vector>

namespace {

struct Algorithm {
    const wchar_t* name;
    ALG_ID         id;
    DWORD          block;   // HMAC block size in bytes
};
const Algorithm kAlgorithms[] = {
    {L"MD5", CALG_MD5, 64},         {L"SHA1", CALG_SHA1, 64},       {L"SHA256", CALG_SHA_256, 64},
    {L"SHA384", CALG_SHA_384, 128}, {L"SHA512", CALG_SHA_512, 128},
};

// A provider and hash objects released on every path.
class Provider {
public:
    Provider() { CryptAcquireContextW(&prov_, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT); }
    ~Provider() {
        if (prov_) CryptReleaseContext(prov_, 0);
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
    HCRYPTPROV get() const { return prov_; }

private:
    HCRYPTPROV prov_ = 0;
};

class Hash {
public:
    Hash(HCRYPTPROV p, ALG_ID id) {
        if (p && !CryptCreateHash(p, id, 0, 0, &h_)) h_ = 0;
    }
    ~Hash() {
        if (h_) CryptDestroyHash(h_);
    }
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;
    bool ok() const { return h_ != 0; }
    bool add(const void* p, DWORD n) { return CryptHashData(h_, static_cast<const BYTE*>(p), n, 0) != 0; }
    bool value(std::vector<uint8_t>* out) {
        DWORD size = 0, len = sizeof size;
        if (!CryptGetHashParam(h_, HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &len, 0)) return false;
        out->resize(size);
        return CryptGetHashParam(h_, HP_HASHVAL, out->data(), &size, 0) != 0;
    }

private:
    HCRYPTHASH h_ = 0;
};

}  // namespace

void fn_filedigest(State* st, int nargs, Cell* result, Cell* args, bool) {
    const std::wstring algName = arg_text(st, &args[2]);
    const Algorithm* alg = nullptr;
    for (const Algorithm& a : kAlgorithms)
        if (_wcsicmp(a.name, algName.c_str()) == 0) alg = &a;
    if (!alg) {
        st->err = 1772;
        return;
    }
    const bool lower = (args[3].i & 1) != 0;
    std::string key;
    if (nargs >= 4) {
        Cell* k = &args[4];
        if (!(k->type & (TW_STRING | TW_UNICODE)) && !conv_to_ansi(st, k)) {
            if (!st->err) st->err = 1776;
            return;
        }
        key = (k->type & TW_UNICODE) ? to_ansi(st, cell_wstr(st, k), wcslen(cell_wstr(st, k))) : cell_str(st, k);
        if (nargs >= 5) {
            if (args[5].i < 0 || static_cast<size_t>(args[5].i) > key.size()) {
                st->err = 1776;
                return;
            }
            key.resize(static_cast<size_t>(args[5].i));
        }
    }
    WidePath p;
    if (!file_long_path(st, &args[1], &p)) return;
    ScopedHandle f(open_file(p.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    if (!f.ok()) {
        platform_error(st, "CreateFile", GetLastError());
        st->err = 1773;
        return;
    }
    Provider prov;
    const bool hmac = nargs >= 4 && !key.empty();
    std::vector<uint8_t> pad(alg->block, 0), digest;
    if (hmac) {
        // HMAC: H((K ^ opad) || H((K ^ ipad) || data)), K hashed first when longer than a block.
        if (key.size() > alg->block) {
            Hash kh(prov.get(), alg->id);
            std::vector<uint8_t> kd;
            if (!kh.ok() || !kh.add(key.data(), static_cast<DWORD>(key.size())) || !kh.value(&kd)) {
                st->err = 1775;
                return;
            }
            key.assign(kd.begin(), kd.end());
        }
        memcpy(pad.data(), key.data(), key.size());
    }
    Hash inner(prov.get(), alg->id);
    if (!inner.ok()) {
        st->err = 1775;
        return;
    }
    std::vector<uint8_t> ipad(pad);
    for (uint8_t& b : ipad) b ^= 0x36;
    if (hmac && !inner.add(ipad.data(), alg->block)) {
        st->err = 1775;
        return;
    }
    std::vector<uint8_t> buf(65536);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(f.get(), buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr)) {
            platform_error(st, "ReadFile", GetLastError());
            st->err = 1774;
            return;
        }
        if (!got) break;
        if (!inner.add(buf.data(), got)) {
            st->err = 1775;
            return;
        }
    }
    if (!inner.value(&digest)) {
        st->err = 1775;
        return;
    }
    if (hmac) {
        Hash outer(prov.get(), alg->id);
        std::vector<uint8_t> opad(pad);
        for (uint8_t& b : opad) b ^= 0x5C;
        if (!outer.ok() || !outer.add(opad.data(), alg->block) ||
            !outer.add(digest.data(), static_cast<DWORD>(digest.size())) || !outer.value(&digest)) {
            st->err = 1775;
            return;
        }
    }
    const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string hex;
    for (uint8_t b : digest) hex += digits[b >> 4], hex += digits[b & 15];
    cell_set_str(st, result, hex.c_str(), hex.size());
}
