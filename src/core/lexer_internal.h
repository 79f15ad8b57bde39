// Internals shared by the keyword lookup, the tokenizer, percent substitution
// and the multi-line string reader: character classes and the first-letter
// index of the keyword table. Not part of the cross-module API.
#pragma once
#include <cstdint>
#include "keywords.h"

namespace lex {

enum : uint8_t {
    CH_LETTER = 1,   // ASCII letters, and bytes from 128 up that the system calls letters
    CH_DIGIT  = 2,
    CH_UNDER  = 4,   // "_"
    CH_AT     = 8,   // "@"
    CH_LEAD   = 16,  // lead byte of a double-byte character (system code page)
    CH_BLANK  = 32,  // space, tab
};

struct CharTables {
    uint8_t cls[256];
    char    lower[256];  // system ANSI lower-casing of single bytes
};

// Built once per process (thread-safe), then read-only. The accessor is
// called for every token: after the first call it is one load and a test.
const CharTables& chars_build();
extern const CharTables* g_chars;
inline const CharTables& chars() { return g_chars ? *g_chars : chars_build(); }

inline bool is_letter(const CharTables& t, unsigned char c) { return t.cls[c] & CH_LETTER; }
inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
// Where a line's statement ends: its terminator, a line break or a comment.
inline bool at_line_end(char c) { return c == 0 || c == ';' || c == '\r' || c == '\n'; }
// A character that may continue a name: letter, digit, "_" or "@".
inline bool is_name_char(const CharTables& t, unsigned char c) {
    return t.cls[c] & (CH_LETTER | CH_DIGIT | CH_UNDER | CH_AT);
}
inline bool is_lead(const CharTables& t, unsigned char c) { return t.cls[c] & CH_LEAD; }

// The first-letter index of the keyword table: entry c is the index of the
// first record whose first name byte is at least c; records that begin with c
// lie in [a[c], a[c+1]) (NKEYTOKENS past 127). `b` is the same content.
struct QuickLook {
    uint32_t a[128];
    uint32_t b[128];
};

// Builds an index over any sorted table, reporting self-check failures through
// `report(text, title)`: "FSOP782" for a record out of order, "FNP983" for a
// record that starts a new first letter and whose code differs from its index.
// The build continues after a report.
void quicklook_build(const KeywordRec* table, uint32_t count, QuickLook* out,
                     void (*report)(const char* text, const char* title));

// The process-wide index of g_keywords (built on first use; failures are
// shown as message boxes).
const QuickLook& quicklook();

}  // namespace lex
