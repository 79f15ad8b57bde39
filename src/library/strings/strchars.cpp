// The character rules of the ANSI form and the string family's small shared
// services: case mapping, result allocation, work buffers.
//
// The rules follow the state's code page (ChrSetCodePage), not only the
// system's, so a script can work with double-byte text of any code page. They
// are kept in the state as three 256-byte tables and rebuilt when the code
// page changes.
#include "library/strings/strings.h"

namespace strings {

UINT effective_cp(const State* st) { return st->codePage ? st->codePage : GetACP(); }

namespace {

// The other case of one character given as `n` bytes of code page `cp`,
// written back over it when it has a spelling of the same length there.
void map_char(UINT cp, char* p, int n, bool upper) {
    wchar_t w[2];
    if (MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, p, n, w, 2) != 1) return;
    if (upper) CharUpperBuffW(w, 1);
    else CharLowerBuffW(w, 1);
    char back[4];
    BOOL usedDefault = FALSE;
    // UTF-7 and UTF-8 refuse the default-character question.
    BOOL* ask = cp == CP_UTF7 || cp == CP_UTF8 ? nullptr : &usedDefault;
    const int m = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, w, 1, back, sizeof back, nullptr, ask);
    if (m == n && !usedDefault) memcpy(p, back, static_cast<size_t>(n));
}

void build_rules(State* st) {
    const UINT cp = effective_cp(st);
    memset(st->strLead, 0, sizeof st->strLead);
    st->strHasLead = 0;
    CPINFO info;
    if (GetCPInfo(cp, &info) && info.MaxCharSize == 2) {
        for (int k = 0; k + 1 < MAX_LEADBYTES && info.LeadByte[k]; k += 2)
            for (int b = info.LeadByte[k]; b <= info.LeadByte[k + 1] && b < 256; ++b) {
                st->strLead[b] = 1;
                st->strHasLead = 1;
            }
    }
    for (int b = 0; b < 256; ++b) {
        char u = static_cast<char>(b), l = static_cast<char>(b);
        if (b < 128) {   // ASCII letters are the same in every ANSI code page
            if (b >= 'a' && b <= 'z') u = static_cast<char>(b - 32);
            if (b >= 'A' && b <= 'Z') l = static_cast<char>(b + 32);
        } else if (!st->strLead[b]) {
            map_char(cp, &u, 1, true);
            map_char(cp, &l, 1, false);
        }
        st->strUpper[b] = static_cast<uint8_t>(u);
        st->strLower[b] = static_cast<uint8_t>(l);
    }
    st->strRulesCp = st->codePage;
    st->strRulesReady = 1;
}

}  // namespace

AnsiRules ansi_rules(State* st) {
    if (!st->strRulesReady || st->strRulesCp != st->codePage) build_rules(st);
    return {st->strHasLead ? st->strLead : nullptr, st->strUpper, st->strLower, effective_cp(st)};
}

wchar_t wide_upper(wchar_t c) {
    return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c)))));
}

void convert_case(const AnsiRules& r, char* s, size_t len, bool upper) {
    const uint8_t* table = upper ? r.upper : r.lower;
    for (size_t i = 0; i < len; ++i) {
        const uint8_t b = static_cast<uint8_t>(s[i]);
        if (r.lead && r.lead[b] && i + 1 < len) {
            map_char(r.cp, s + i, 2, upper);
            ++i;
        } else {
            s[i] = static_cast<char>(table[b]);
        }
    }
}

void convert_case(const AnsiRules&, wchar_t* s, size_t len, bool upper) {
    for (size_t done = 0; done < len;) {   // the platform call takes a 32-bit count
        const DWORD n = static_cast<DWORD>(std::min<size_t>(len - done, 0x40000000));
        if (upper) CharUpperBuffW(s + done, n);
        else CharLowerBuffW(s + done, n);
        done += n;
    }
}

bool fits_heap(const State* st, uint64_t units, size_t unitSize) {
    if (units >= (uint64_t{1} << 40)) return false;
    return !st->heapReserved || (units + 1) * unitSize <= st->heapReserved;   // 0: the host gave no limit
}

namespace {
template <class C>
C* alloc_text(State* st, Cell* result, uint64_t units) {
    const uint64_t h = fits_heap(st, units, sizeof(C)) ? VMalloc(st, (units + 1) * sizeof(C)) : 0;
    if (!h) {
        st->err = 3096;
        return nullptr;
    }
    cell_release(st, result, CM_VARBOUND);
    cell_init(result, 0);
    C* p;
    if constexpr (sizeof(C) == 1) {
        result->type = TW_STRING;
        result->str = h;
        p = heap_ptr(st, h);
    } else {
        result->type = TW_UNICODE;
        result->wstr = h;
        p = heap_wptr(st, h);
    }
    p[units] = 0;
    return p;
}
}  // namespace

char* result_alloc(State* st, Cell* result, uint64_t units, char) { return alloc_text<char>(st, result, units); }
wchar_t* result_alloc(State* st, Cell* result, uint64_t units, wchar_t) { return alloc_text<wchar_t>(st, result, units); }

WorkBuffer::~WorkBuffer() {
    if (p_) GlobalUnlock(h_);
    if (h_) GlobalFree(h_);
}

bool WorkBuffer::alloc(State* st, uint64_t bytes) {
    if (bytes < (uint64_t{1} << 40)) h_ = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(bytes ? bytes : 1));
    p_ = h_ ? GlobalLock(h_) : nullptr;
    if (!p_) st->err = 1588;
    return p_ != nullptr;
}

bool arg_wide(State* st, Cell* c) {
    if (conv_to_wide(st, c)) return true;
    if (!st->err) st->err = 3820;
    return false;
}

bool arg_ansi(State* st, Cell* c) {
    if (conv_to_ansi(st, c)) return true;
    if (!st->err) st->err = 3056;
    return false;
}

}  // namespace strings
