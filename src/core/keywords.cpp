// The keyword table and keyword lookup.
//
// The built-in table is static data (keyword_table.inc), sorted by name in
// byte order so that a first-letter index (QuickLook) plus a binary search
// finds a name, and a short linear scan finds the longest operator. After the
// built-in table, lookup falls back to the script's user-defined functions,
// the extender functions and the host's functions, in that order.
#include "lexer_internal.h"
#include "state.h"
#include "exec.h"
#include "value.h"
#include "heap.h"
#include <cstring>

extern const KeywordRec g_keywords[] = {
#include "keyword_table.inc"
};
extern const uint32_t NKEYTOKENS = sizeof g_keywords / sizeof g_keywords[0];
static_assert(sizeof g_keywords / sizeof g_keywords[0] == KW_COUNT,
              "keyword_ids.h and keyword_table.inc must describe the same records");

namespace lex {

// The builders are kept out of line: inlined, they made every call of the
// accessors save and restore all callee-saved registers, and the accessors
// are called for every token.
[[gnu::noinline]] static CharTables build_chars() {
    CharTables t{};
    for (int c = 0; c < 256; c++) {
        uint8_t k = 0;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) k |= CH_LETTER;
        else if (c >= 128 && IsCharAlphaA(static_cast<CHAR>(c))) k |= CH_LETTER;
        if (c >= '0' && c <= '9') k |= CH_DIGIT;
        if (c == '_') k |= CH_UNDER;
        if (c == '@') k |= CH_AT;
        if (c == ' ' || c == '\t') k |= CH_BLANK;
        if (c >= 128 && IsDBCSLeadByte(static_cast<BYTE>(c))) k |= CH_LEAD;
        t.cls[c] = k;
        char one[2] = {static_cast<char>(c), 0};
        if (c >= 'A' && c <= 'Z') one[0] = static_cast<char>(c + 32);
        else if (c >= 128 && !(k & CH_LEAD)) CharLowerBuffA(one, 1);
        t.lower[c] = one[0];
    }
    return t;
}

const CharTables* g_chars = nullptr;

const CharTables& chars_build() {
    static const CharTables tables = build_chars();
    g_chars = &tables;
    return tables;
}

void quicklook_build(const KeywordRec* table, uint32_t count, QuickLook* out,
                     void (*report)(const char* text, const char* title)) {
    int prev = -1;   // first byte of the previous record
    for (uint32_t i = 0; i < count; i++) {
        int first = static_cast<unsigned char>(table[i].name[0]);
        if (i > 0 && first < prev) report(table[i].name, "FSOP782");
        if (first != prev) {
            if (table[i].code != i) report(table[i].name, "FNP983");
            for (int c = prev + 1; c <= first && c < 128; c++) out->a[c] = out->b[c] = i;
            if (first > prev) prev = first;
        }
    }
    for (int c = prev + 1; c < 128; c++) out->a[c] = out->b[c] = count;
}

static void report_box(const char* text, const char* title) {
    MessageBoxA(nullptr, text, title, MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

[[gnu::noinline]] static QuickLook build_quicklook() {
    QuickLook q{};
    quicklook_build(g_keywords, NKEYTOKENS, &q, report_box);
    return q;
}

const QuickLook& quicklook() {
    static const QuickLook index = build_quicklook();
    return index;
}

}  // namespace lex

namespace {

using lex::CharTables;

inline uint32_t range_end(const lex::QuickLook& q, unsigned c) {
    return c + 1 < 128 ? q.a[c + 1] : NKEYTOKENS;
}

// Case-insensitive comparison of the next n source bytes with a lower-case name.
bool prefix_equal(const CharTables& t, const char* text, const char* name, size_t n) {
    for (size_t k = 0; k < n; k++) {
        unsigned char c = static_cast<unsigned char>(text[k]);
        if (!c || t.lower[c] != name[k]) return false;
    }
    return true;
}

// Same, for names whose case is not known (host and extender tables).
bool prefix_equal_nc(const CharTables& t, const char* text, const char* name, size_t n) {
    for (size_t k = 0; k < n; k++) {
        unsigned char c = static_cast<unsigned char>(text[k]);
        if (!c || t.lower[c] != t.lower[static_cast<unsigned char>(name[k])]) return false;
    }
    return true;
}

// Binary search of a lower-cased word among the records [lo, hi): name bytes
// over the shorter length, then the lengths; only equal lengths match.
uint32_t search_name(const char* w, size_t n, uint32_t lo, uint32_t hi) {
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        const KeywordRec& r = g_keywords[mid];
        size_t rn = r.nameLen;
        // Byte order as memcmp gives it; the names are short, an inline loop
        // beats the library call.
        const size_t m = n < rn ? n : rn;
        int d = 0;
        for (size_t k = 0; k < m && d == 0; k++)
            d = static_cast<unsigned char>(w[k]) - static_cast<unsigned char>(r.name[k]);
        if (d == 0) d = n < rn ? -1 : n > rn ? 1 : 0;
        if (d == 0) return mid;
        if (d < 0) hi = mid;
        else lo = mid + 1;
    }
    return NOKEYWORD;
}

// Longest operator record in [lo, hi) whose characters all equal the text.
uint32_t search_operator(const CharTables& t, const char* text, uint32_t lo, uint32_t hi, int* len) {
    uint32_t best = NOKEYWORD;
    int bestLen = 0;
    for (uint32_t i = lo; i < hi; i++) {
        const KeywordRec& r = g_keywords[i];
        if (r.nameLen > bestLen && prefix_equal(t, text, r.name, r.nameLen)) {
            best = i;
            bestLen = r.nameLen;
        }
    }
    *len = bestLen;
    return best;
}

// A word followed by "[...]" and "." is an object reference when the word
// names an array, a variant holding an array, or a string holding a valid
// variable pointer.
bool subscripted_object(State* st, const char* word, const char* after, bool* dynamic) {
    if (*after != '[') return false;
    int depth = 0;
    const char* p = after;
    char quote = 0;
    for (; *p; p++) {
        if (quote) {
            if (*p == quote) quote = 0;
        } else if (*p == '"' || *p == '\'' || *p == '`') {
            quote = *p;
        } else if (*p == '[') {
            depth++;
        } else if (*p == ']' && --depth == 0) {
            break;
        }
    }
    if (*p != ']' || p[1] != '.') return false;
    if (dynamic) *dynamic = true;   // the answer depends on what the variable holds
    uint16_t i = var_lookup(st, word);
    VarSlot* s = i == SLOT_NONE ? nullptr : var_slot(st, i);
    if (!s) return false;
    const Cell* c = slot_cell(s);
    if (c->type & TW_ARRAY) return true;
    if ((c->type & TW_VARIANT) && (c->var.vt & VT_ARRAY)) return true;
    if ((c->type & TW_STRING) && c->str) {
        uint16_t level;
        char name[VARNAMESIZE + 1];
        uint16_t savedErr = st->err;
        int r = varptr_parse(st, heap_ptr(st, c->str), &level, name);
        st->err = savedErr;
        return r == 0;
    }
    return false;
}

// User-defined functions in definition order; the longest name that ends at
// a character that cannot continue a name wins.
uint32_t search_udfs(State* st, const CharTables& t, const char* text, int* len) {
    uint32_t best = NOKEYWORD;
    int bestLen = 0;
    for (uint32_t i = 0; i < st->udfCount; i++) {
        const UdfRecord* u = udf_record(st, i);
        if (!u || u->nameLen == 0 || u->nameLen <= bestLen || u->nameLen > VARNAMESIZE) continue;
        if (!prefix_equal_nc(t, text, u->name, u->nameLen)) continue;
        if (lex::is_name_char(t, static_cast<unsigned char>(text[u->nameLen]))) continue;
        best = UDFSTART + i;
        bestLen = u->nameLen;
    }
    *len = bestLen;
    return best;
}

// Extender functions: in name mode the whole word, in operator mode the
// longest record that matches.
uint32_t search_extenders(State* st, const CharTables& t, const char* text, bool nameMode,
                          size_t wordLen, int* len) {
    uint32_t n = st->nNextExtEntry < MAX_EXTFUNCS ? st->nNextExtEntry : MAX_EXTFUNCS;
    uint32_t best = NOKEYWORD;
    int bestLen = 0;
    for (uint32_t i = 0; i < n; i++) {
        const KeywordRec& r = st->extFuncs[i];
        if (r.nameLen == 0 || r.nameLen > 33) continue;
        if (nameMode ? r.nameLen != wordLen : r.nameLen <= bestLen) continue;
        if (!prefix_equal_nc(t, text, r.name, r.nameLen)) continue;
        best = ADDONSTART + i;
        bestLen = r.nameLen;
        if (nameMode) break;
    }
    *len = bestLen;
    return best;
}

// The host's table (ends with a record of name length 0): the longest name
// that matches and ends at a character that cannot continue a name.
uint32_t search_host(State* st, const CharTables& t, const char* text, int* len) {
    uint32_t best = NOKEYWORD;
    int bestLen = 0;
    if (const KeywordRec* h = st->hostFuncs) {
        for (uint32_t i = 0; h[i].nameLen != 0 && i < 999; i++) {
            const KeywordRec& r = h[i];
            if (r.nameLen <= bestLen || r.nameLen > 33) continue;
            if (!prefix_equal_nc(t, text, r.name, r.nameLen)) continue;
            if (lex::is_name_char(t, static_cast<unsigned char>(text[r.nameLen]))) continue;
            best = PARENTSTART + i;
            bestLen = r.nameLen;
        }
    }
    *len = bestLen;
    return best;
}

}  // namespace

uint32_t kw_lookup(State* st, const char* text, bool nameMode, int* len, bool* dynamic) {
    const CharTables& t = lex::chars();
    const lex::QuickLook& q = lex::quicklook();
    *len = 0;
    if (!text) return NOKEYWORD;

    if (nameMode) {
        // The word: letters, digits, "_" and a leading "@", lower-cased, at most 30.
        char w[VARNAMESIZE + 1];
        size_t n = 0;
        const char* p = text;
        if (*p == '@') w[n++] = *p++;
        while (n < VARNAMESIZE) {
            unsigned char c = static_cast<unsigned char>(*p);
            if (!(t.cls[c] & (lex::CH_LETTER | lex::CH_DIGIT | lex::CH_UNDER))) break;
            w[n++] = t.lower[c];
            p++;
        }
        w[n] = 0;
        if (n == 0) return NOKEYWORD;
        if (*p == '.' || subscripted_object(st, w, p, dynamic)) {
            *len = static_cast<int>(n);
            return KW_Q_OLEOBJECT;
        }
        unsigned first = static_cast<unsigned char>(w[0]);
        if (first < 128) {
            uint32_t code = search_name(w, n, q.a[first], range_end(q, first));
            if (code != NOKEYWORD) {
                if (code == KW_MOD && *p == '=') {
                    *len = 4;
                    return KW_MOD_ASSIGN;
                }
                *len = static_cast<int>(n);
                return code;
            }
        }
        uint32_t code = search_udfs(st, t, text, len);
        if (code != NOKEYWORD) return code;
        if (!lex::is_name_char(t, static_cast<unsigned char>(*p))) {
            code = search_extenders(st, t, text, true, n, len);
            if (code != NOKEYWORD) return code;
        }
        return search_host(st, t, text, len);
    }

    unsigned first = static_cast<unsigned char>(t.lower[static_cast<unsigned char>(*text)]);
    if (first && first < 128) {
        uint32_t code = search_operator(t, text, q.b[first], first + 1 < 128 ? q.b[first + 1] : NKEYTOKENS, len);
        if (code != NOKEYWORD) return code;
    }
    // User-defined function names begin with a letter, so in operator mode
    // only the extender functions remain to be tried.
    if (!*text) return NOKEYWORD;
    return search_extenders(st, t, text, false, 0, len);
}

const KeywordRec* kw_record(State* st, uint32_t code) {
    if (code < NKEYTOKENS) return &g_keywords[code];
    if (!st) return nullptr;
    if (code >= PARENTSTART && code < PARENTSTART + 999) {
        const KeywordRec* h = st->hostFuncs;
        if (!h) return nullptr;
        for (uint32_t i = 0; i <= code - PARENTSTART; i++)
            if (h[i].nameLen == 0) return nullptr;
        return &h[code - PARENTSTART];
    }
    if (code >= UDFSTART && code < UDFSTART + MAX_UDF) {
        const UdfRecord* u = code - UDFSTART < st->udfCount ? udf_record(st, code - UDFSTART) : nullptr;
        if (!u) return nullptr;
        // A record in keyword form, rebuilt on each call: user-defined
        // functions take any values, unconverted.
        thread_local KeywordRec rec;
        memset(&rec, 0, sizeof rec);
        rec.code = code;
        rec.cls = u->cls;
        rec.argTypes = ~0ull;
        rec.value = u->params;
        size_t n = u->nameLen < VARNAMESIZE ? u->nameLen : VARNAMESIZE;
        rec.nameLen = static_cast<uint16_t>(n);
        memcpy(rec.name, u->name, n);
        return &rec;
    }
    if (code >= ADDONSTART && code < ADDONSTART + MAX_EXTFUNCS) {
        uint32_t i = code - ADDONSTART;
        return i < st->nNextExtEntry ? &st->extFuncs[i] : nullptr;
    }
    return nullptr;
}

const char* kw_name(State* st, uint32_t code) {
    const KeywordRec* r = kw_record(st, code);
    return r ? r->name : "";
}
