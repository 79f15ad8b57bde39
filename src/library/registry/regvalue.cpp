// Reading and writing value data, and the text forms of values that are
// shared by several members: hex text for binary data, delimited lists for
// multi-strings, expanded text for expandable strings.
#include "library/registry/reg_internal.h"
#include "errors.h"
#include <cstring>
#include <cwchar>

namespace reg {

bool ValueData::read(State* st, HKEY key, const wchar_t* name) {
    LSTATUS rc = ERROR_MORE_DATA;
    // The size is asked first; a value that grows before it is read is asked
    // again (a few times: a value rewritten without pause cannot hold us).
    for (int attempt = 0; attempt < 8 && rc == ERROR_MORE_DATA; ++attempt) {
        DWORD type = 0, size = 0;
        rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS) break;
        BYTE* p = fixed_;
        DWORD room = FIXED;
        if (size > FIXED) {
            if (!heap_.reserve(st, static_cast<size_t>(size) + 8)) return false;
            p = static_cast<BYTE*>(heap_.data());
            room = static_cast<DWORD>(heap_.capacity() - 8 > MAXDWORD ? MAXDWORD : heap_.capacity() - 8);
        }
        rc = RegQueryValueExW(key, name, nullptr, &type, p, &room);
        if (rc == ERROR_SUCCESS) {
            memset(p + room, 0, 8);
            data_ = p;
            type_ = type;
            size_ = room;
            return true;
        }
    }
    st->err = 1233;
    platform_error(st, "RegQueryValueEx", static_cast<DWORD>(rc));
    return false;
}

const wchar_t* ValueData::text(size_t* len) const {
    const wchar_t* s = reinterpret_cast<const wchar_t*>(data_);
    *len = wcsnlen(s, size_ / sizeof(wchar_t));
    return s;
}

int32_t ValueData::dword() const {
    uint32_t v;
    memcpy(&v, data_, 4);
    if (type_ == REG_DWORD_BIG_ENDIAN)
        v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    return static_cast<int32_t>(v);
}

int64_t ValueData::qword() const {
    int64_t v;
    memcpy(&v, data_, 8);
    return v;
}

bool hex_result(State* st, Cell* out, const BYTE* p, size_t n) {
    static const char kDigits[] = "0123456789ABCDEF";
    Buffer buf;
    if (!buf.reserve(st, n * 3 + 1)) return false;
    char* s = static_cast<char*>(buf.data());
    size_t k = 0;
    for (size_t i = 0; i < n; ++i) {
        if (i) s[k++] = ' ';
        s[k++] = kDigits[p[i] >> 4];
        s[k++] = kDigits[p[i] & 15];
    }
    s[k] = 0;
    return cell_set_str(st, out, s, k);
}

// Strings follow each other, each ending with a NUL; an empty one (or the
// end of the data) ends the list.
bool multi_result(State* st, Cell* out, const ValueData& v, wchar_t delimiter) {
    const wchar_t* s = reinterpret_cast<const wchar_t*>(v.bytes());
    const size_t units = v.size() / sizeof(wchar_t);
    WText list;
    for (size_t i = 0; i < units;) {
        const size_t n = wcsnlen(s + i, units - i);
        if (!n) break;
        if (i && !list.append(st, delimiter)) return false;
        if (!list.append(st, s + i, n)) return false;
        i += n + 1;
    }
    return list.result(st, out);
}

bool expanded_result(State* st, Cell* out, const wchar_t* s, size_t n) {
    Buffer buf;
    DWORD need = ExpandEnvironmentStringsW(s, nullptr, 0);
    if (need && buf.reserve(st, static_cast<size_t>(need) * sizeof(wchar_t) + sizeof(wchar_t))) {
        wchar_t* w = static_cast<wchar_t*>(buf.data());
        DWORD got = ExpandEnvironmentStringsW(s, w, need);
        if (got && got <= need) return cell_set_wstr(st, out, w, wcslen(w));
    }
    if (st->err) return false;
    return cell_set_wstr(st, out, s, n);   // not expandable: the text as it is stored
}

bool write_value(State* st, HKEY key, const wchar_t* name, DWORD type, const void* data, size_t bytes) {
    LSTATUS rc = bytes > MAXDWORD ? ERROR_INVALID_PARAMETER
                                  : RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data),
                                                   static_cast<DWORD>(bytes));
    if (rc == ERROR_SUCCESS) return true;
    // Answers about the data itself (too large, malformed, beyond the quota)
    // mean the value cannot be stored; the rest are failures of the call.
    switch (rc) {
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_DATA:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NOT_ENOUGH_QUOTA:
        st->err = 1743;
        break;
    default:
        st->err = 1232;
    }
    platform_error(st, "RegSetValueEx", static_cast<DWORD>(rc));
    return false;
}

namespace {
int hex_digit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}
}  // namespace

int parse_hex(State* st, const wchar_t* s, Buffer* out, size_t* n) {
    *n = 0;
    if (!out->reserve(st, wcslen(s) / 2 + 1)) return -1;
    BYTE* p = static_cast<BYTE*>(out->data());
    while (*s) {
        if (*s == L' ' || *s == L'\t' || *s == L',') {
            ++s;
            continue;
        }
        size_t len = 0;
        while (s[len] && s[len] != L' ' && s[len] != L'\t' && s[len] != L',') ++len;
        if (len > 1 && len % 2) return 0;
        for (size_t i = 0; i < len; i += 2) {
            const int hi = hex_digit(s[i]);
            const int lo = len == 1 ? 0 : hex_digit(s[i + 1]);
            if (hi < 0 || lo < 0) return 0;
            p[(*n)++] = static_cast<BYTE>(len == 1 ? hi : hi * 16 + lo);
        }
        s += len;
    }
    return 1;
}

}  // namespace reg
