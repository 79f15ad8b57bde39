// The keyword table: operators, punctuation, @ constants, statements and
// built-in functions, sorted by name in byte order. A record's index is its
// token code. Host and extender function tables use the same record form.
#pragma once
#include <cstdint>

#pragma pack(push, 1)
struct KeywordRec {
    uint32_t code;        // 0-3   token code (= index, except @dcgetchecked/@dcgroupdot)
    uint32_t cls;         // 4-7   class (KC_*)
    uint64_t argTypes;    // 8-15  4-bit argument type code per argument, argument 1 lowest
    uint32_t value;       // 16-19 functions: low byte required, next byte optional (255 = any);
                          //       constants: the value or a sentinel (0xF0F0F000+n, 0xFFF0F000+n)
    uint16_t nameLen;     // 20-21
    char     name[34];    // 22-55 lower case, NUL-padded, at most 33 characters
};
#pragma pack(pop)
static_assert(sizeof(KeywordRec) == 56);

enum : uint32_t {
    KC_OPERATOR = 0,   // binary/assignment operators and punctuation
    KC_UNARYOP  = 1,   // operators that may also be unary
    KC_FUNCTION = 2,
    KC_CONSTANT = 3,
    KC_COMMAND  = 4,   // beep execute exit goto yield
    KC_COMPARE  = 5,
    KC_VARNAME  = 6,   // functions whose argument is a variable name
    KC_STRUCT   = 8,   // structure keywords
    KC_UDCOMMAND = 9,  // #DefineCommand records
};

// Token-code ranges.
constexpr uint32_t PARENTSTART = 1000;   // host functions 1000..1998
constexpr uint32_t UDFSTART    = 4000;   // user-defined functions 4000..4998
constexpr uint32_t ADDONSTART  = 10000;  // extender functions 10000..10750
constexpr uint32_t NOKEYWORD   = 9999;

constexpr uint32_t FLOATCONST  = 0xF0F0F000u;
constexpr uint32_t STRINGCONST = 0xFFF0F000u;

// Argument type codes (4 bits each in argTypes).
enum : uint32_t {
    AT_INT = 0, AT_ANSI = 1, AT_FLOAT = 2, AT_ARRAY = 3, AT_VARIANT = 4, AT_WIDE = 5,
    AT_STRW6 = 6, AT_STRNT = 7, AT_STRW8 = 8, AT_INT64OK = 9, AT_INT64 = 10, AT_ANY = 15,
};

extern const KeywordRec g_keywords[];
extern const uint32_t NKEYTOKENS;

#include "keyword_ids.h"   // KW_* constants: the token code of every built-in record

struct State;

// Looks up the keyword at `text` (name mode for words, operator mode for
// punctuation), continuing with user-defined, extender and host functions.
// Returns the token code (NOKEYWORD when nothing matches) and sets *len to the
// number of source characters the match covers. *dynamic (when given) is set
// when the answer depended on a variable's value (a name followed by "[...]."
// that names an array), so that it must not be remembered.
uint32_t kw_lookup(State* st, const char* text, bool nameMode, int* len, bool* dynamic = nullptr);

// The record behind any token code: built-in, host (1000+), user-defined
// function (4000+, a synthesised record) or extender (10000+); nullptr if none.
const KeywordRec* kw_record(State* st, uint32_t code);

// Name of a token code for messages ("StrSub" style spelling is not kept: the
// lower-case record name is returned).
const char* kw_name(State* st, uint32_t code);
