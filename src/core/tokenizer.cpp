// The tokenizer: reads the token at State::prog on demand, copies its text to
// State::token, records its kind and code, and advances prog. There is no
// token list; putback re-reads.
//
// Every word that is not a keyword or a function is a variable name, and a
// name not seen before gets an UNINITIALIZED slot in the current scope here,
// so that the evaluator always finds a slot for a name token.
#include "tokenizer.h"
#include "linecache.h"
#include "lexer_internal.h"
#include "value.h"
#include "errors.h"
#include <cstring>
#include <cstdio>

namespace {

using lex::CharTables;

constexpr int TOKEN_MAX = TOKEN_BUF - 1;   // characters the token buffer holds

void set_token(State* st, const char* src, size_t n) {
    if (n > static_cast<size_t>(TOKEN_MAX)) n = TOKEN_MAX;
    memcpy(st->token, src, n);
    st->token[n] = 0;
}

int fail(State* st, uint16_t err) {
    err_set(st, err);
    st->delimType = TK_EOL;
    st->token[0] = 0;
    return 0;
}

// Digits with at most one "." and one exponent ("e", optional sign, digits).
// Kind 3 for an integer, 5 for a floating-point literal.
int read_number(State* st, const char* p) {
    const char* s = p;
    bool dot = false, exp = false, mantissaDigit = false;
    for (;;) {
        char c = *p;
        if (lex::is_digit(static_cast<unsigned char>(c))) {
            if (!exp) mantissaDigit = true;
            p++;
        } else if (c == '.') {
            if (dot || exp) return fail(st, 3338);
            dot = true;
            p++;
        } else if (c == 'e' || c == 'E') {
            if (exp) return fail(st, 3339);
            if (!mantissaDigit) return fail(st, 3054);
            exp = true;
            p++;
            if (*p == '+' || *p == '-') p++;
            if (!lex::is_digit(static_cast<unsigned char>(*p))) return fail(st, 3054);
        } else {
            break;
        }
    }
    if (!mantissaDigit) return fail(st, 3054);   // a lone "." (or ".e5")
    set_token(st, s, static_cast<size_t>(p - s));
    st->delimType = dot || exp ? TK_FLOAT : TK_INTEGER;
    st->prog = const_cast<char*>(p);
    return 1;
}

// A literal in ", ` or ': two quote characters in a row stand for one; the
// literal also ends at the end of the line or when the buffer is full.
int read_string(State* st, const CharTables& t, const char* p) {
    char q = *p++;
    int n = 0;
    while (*p && n < TOKEN_MAX) {
        char c = *p;
        if (c == q) {
            if (p[1] != q) {
                p++;
                break;
            }
            st->token[n++] = q;
            p += 2;
        } else if (lex::is_lead(t, static_cast<unsigned char>(c)) && p[1]) {
            if (n + 2 > TOKEN_MAX) break;
            st->token[n++] = c;
            st->token[n++] = p[1];
            p += 2;
        } else {
            st->token[n++] = c;
            p++;
        }
    }
    st->token[n] = 0;
    st->delimType = TK_STRING;
    st->prog = const_cast<char*>(p);
    return 1;
}

// "&" where an operand is expected: after a keyword that is not ")" or "]"
// (either would end an operand) and not a constant.
bool amp_is_unary(const State* st) {
    if (st->prevDelim != TK_KEYWORD) return false;
    uint32_t prev = st->prevTok;
    if (prev == KW_OP_RPAREN || prev == KW_OP_RBRACKET) return false;
    return !(prev < NKEYTOKENS && g_keywords[prev].cls == KC_CONSTANT);
}

// A variable name: letters, digits, "_", "@" and ".", lower-cased.
int read_variable(State* st, const CharTables& t, const char* p, bool prevAmp) {
    char prefix[16] = "";
    int prefixLen = 0;
    if (st->ptrPersistent) {
        // Private to the running function: its record number in hex leads the name.
        prefixLen = snprintf(prefix, sizeof prefix, "?%02x__", static_cast<unsigned>(st->curUdf));
    }
    int limit = VARNAMESIZE - prefixLen;
    const char* s = p;
    while (lex::is_name_char(t, static_cast<unsigned char>(*p)) || *p == '.') p++;
    int n = static_cast<int>(p - s);
    if (n > limit) return fail(st, 3055);

    char name[VARNAMESIZE + 1];
    memcpy(name, prefix, static_cast<size_t>(prefixLen));
    for (int k = 0; k < n; k++) name[prefixLen + k] = t.lower[static_cast<unsigned char>(s[k])];
    n += prefixLen;
    name[n] = 0;
    set_token(st, name, static_cast<size_t>(n));
    st->delimType = TK_VARIABLE;
    st->prog = const_cast<char*>(p);

    if (st->ptrPrefix) {
        // The target of a "*" pointer is resolved later; the name is parked in
        // the reserved slot 0, marked by the high bit of its first byte.
        if (st->vars && st->varSlots > 0) {
            VarSlot* s0 = &st->vars[0];
            memcpy(s0->name, name, static_cast<size_t>(n) + 1);
            s0->name[0] = static_cast<char>(s0->name[0] | 0x80);
        }
        return 1;
    }
    uint32_t type = prevAmp || st->makePointer ? TW_INT : TW_UNINIT;
    st->tokSlot = var_create(st, name, type);
    return st->tokSlot == SLOT_NONE ? 0 : 1;
}

int read_token(State* st, const CharTables& t, char* p, bool prevAmp, bool* dynamic);

}  // namespace

extern "C" int get_token(State* st) {
    const CharTables& t = lex::chars();
    bool prevAmp = st->unaryAmp != 0;
    // Cleared only when set: the cache reads this flag with its neighbours in
    // one wider load, which a fresh one-byte store would stall.
    if (prevAmp) st->unaryAmp = 0;
    if (st->tokStart) {   // null right after putback: the previous token stays the same
        st->prevDelim = st->delimType;
        st->prevTok = st->tok;
    }
    char* p = st->prog;
    if (!p) {
        st->delimType = TK_EOL;
        st->token[0] = 0;
        return 1;
    }
    while (t.cls[static_cast<unsigned char>(*p)] & lex::CH_BLANK) p++;
    st->prog = p;
    st->tokStart = p;

    unsigned char c = static_cast<unsigned char>(*p);
    if (lex::at_line_end(static_cast<char>(c))) {
        st->delimType = TK_EOL;
        st->token[0] = 0;
        return 1;
    }
    if (st->tokLine) {
        const int served = tokens_serve(st, p, prevAmp);
        if (served >= 0) return served;
    }
    bool dynamic = false;
    const int r = read_token(st, t, p, prevAmp, &dynamic);
    if (r && st->tokLine) tokens_record(st, p, dynamic);
    return r;
}

namespace {

// The ordinary path: reads the token at p (blanks skipped, not at the end of
// the line). *dynamic tells that its meaning depended on a variable's value.
int read_token(State* st, const CharTables& t, char* p, bool prevAmp, bool* dynamic) {
    st->tokSlot = SLOT_NONE;
    const unsigned char c = static_cast<unsigned char>(*p);
    if (lex::is_digit(c) || c == '.') return read_number(st, p);

    bool word = lex::is_letter(t, c) || c == '@' || c == '_';
    int len = 0;
    uint32_t code = kw_lookup(st, p, word, &len, dynamic);
    if (code != NOKEYWORD) {
        st->tok = code;
        st->delimType = TK_KEYWORD;
        if (code == KW_Q_OLEOBJECT) {
            // The token is the whole dotted name: obj.member.member
            const char* e = p + (*p == '@' ? 1 : 0);
            while (lex::is_name_char(t, static_cast<unsigned char>(*e)) || *e == '.') {
                if (*e == '@') break;
                e++;
            }
            len = static_cast<int>(e - p);
        }
        set_token(st, p, static_cast<size_t>(len));
        st->prog = p + len;
        if (code == KW_OP_AMP && amp_is_unary(st)) {
            st->unaryAmp = 1;
            return 1 | 2;
        }
        return 1;
    }
    if (word) return read_variable(st, t, p, prevAmp);
    if (c == '"' || c == '`' || c == '\'') return read_string(st, t, p);
    if (c == '$' && p[1] == '"') {
        set_token(st, p, 2);
        st->delimType = TK_MULTILINE;
        st->prog = p + 2;
        return 1;
    }
    return fail(st, 3054);
}

}  // namespace

extern "C" void putback(State* st) {
    // Back to where the current token began (after the blanks before it), so
    // a string literal or a prefixed variable name is re-read whole.
    if (!st->tokStart) return;
    st->prog = st->tokStart;
    st->tokStart = nullptr;
}

extern "C" int get_string_token(State* st) {
    const CharTables& t = lex::chars();
    if (st->tokStart) {
        st->prevDelim = st->delimType;
        st->prevTok = st->tok;
    }
    st->unaryAmp = 0;
    char* p = st->prog;
    st->token[0] = 0;
    if (!p) {
        st->delimType = TK_EOL;
        return 0;
    }
    while (t.cls[static_cast<unsigned char>(*p)] & lex::CH_BLANK) p++;
    st->prog = p;
    st->tokStart = p;
    if (lex::at_line_end(*p)) {
        st->delimType = TK_EOL;
        return 0;
    }
    const char* s = p;
    while (lex::is_name_char(t, static_cast<unsigned char>(*p)) && p - s < TOKEN_MAX) p++;
    if (p == s) return fail(st, 3054);
    set_token(st, s, static_cast<size_t>(p - s));
    st->delimType = TK_STRING;
    st->tok = 65535;
    st->prog = p;
    return 1;
}
