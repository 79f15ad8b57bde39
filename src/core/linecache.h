// The executor's memory of the lines it has run: for each line of a buffer,
// its decoded text and the tokens the tokenizer read from it.
//
// A script spends most of its time in loops, reading the same lines again.
// Decoding a line from the scrambled buffer and tokenizing it (keyword
// binary search, the function tables, lower-casing names) is pure work that
// gives the same answer every time, so the answers are kept:
// - the line text, its statement position and the position of the next line;
// - each token as it was first read at an offset of the line: kind, code,
//   text, where it ends, and for a variable the slot it was found in.
// Nothing a script or an extender can observe changes:
// - tokens are recorded as they are read, never ahead, so variables are
//   still created exactly when their name is first read;
// - a variable token re-checks its slot (still that name, still in use) and
//   creates the variable again when it was dropped;
// - lines that percent substitution changes are never cached (they are read
//   afresh each time), nor the tokens after a multi-line string constant;
// - a keyword whose meaning depends on a variable (a name followed by
//   "[...]." ) is not cached; a line's tokens are dropped when a function is
//   defined or an extender adds functions, since a name may change meaning;
// - a buffer's lines are dropped when a jump marker is written into it and
//   when it is freed; the whole cache at the start of each run.
// The exported get_token, putback and find_var behave as before: the cache is
// used only while State::prog lies in State::line at an offset where a token
// was recorded, and anything else takes the ordinary path.
#pragma once
#include "state.h"
#include <cstring>

struct BufferLines;
struct LineEntry;
struct ExprProgram;

// A token as it was first read at an offset of a cached line.
struct CachedToken {
    uint16_t start;      // offset of the token's first character in the line
    uint16_t end;        // offset after it: State::prog once it is read
    int32_t  kind;       // TK_*
    uint32_t code;       // keywords: the token code
    uint32_t textOff;    // the token text (State::token) in the entry's arena
    uint16_t textLen;
    uint16_t slot;       // variables: the slot the name was last found in
};

// An expression that starts at an offset of a cached line: how often it ran
// the ordinary way, and its compiled form (exprcache.h) once there is one.
struct ExprSite {
    uint16_t     off;
    uint8_t      runs;       // ordinary runs so far (up to 2)
    bool         refused;    // it cannot be compiled: always the ordinary way
    ExprProgram* prog;
};
void expr_program_free(ExprProgram* p);   // exprcache.cpp

// The lines of buffer `buf` (run with key base `keyBase`); nullptr when no
// memory could be had (then nothing is cached).
BufferLines* lines_of(State* st, HGLOBAL buf, uint32_t keyBase);
// The entry of the line at `pos`, or nullptr.
LineEntry* line_find(BufferLines* b, uint32_t pos);
// The same, for the line that runs after the line of `prev` (may be null):
// remembered per entry, so a loop finds its next line without a lookup.
LineEntry* line_next(BufferLines* b, LineEntry* prev, uint32_t pos);
// Records a line just read at `pos`. Returns the entry or nullptr.
LineEntry* line_store(BufferLines* b, uint32_t pos, const char* text, uint32_t textPos, uint32_t nextPos,
                      bool tooLong);
// Copies a cached line into `out` (LINE_BUF bytes); gives its positions.
void line_fetch(const LineEntry* e, char* out, uint32_t* textPos, uint32_t* nextPos, bool* tooLong);
// Whether a line runs as it stands: no "%" and no leading "#" (lines that
// percent substitution may rewrite).
inline bool line_text_plain(const char* text) { return text[0] != '#' && !strchr(text, '%'); }
bool line_plain(const LineEntry* e);
// Where the line after it starts, and whether the reader cut the line.
uint32_t line_next_pos(const LineEntry* e);
bool line_cut(const LineEntry* e);

// The jump marker at `offset` of the line, as judged before: -1 not judged
// yet, 0 ordinary text, 1 a marker (gosub, target filled). A line's text
// never changes while its entry is current, so neither does the judgement.
int line_marker(const LineEntry* e, uint32_t offset, bool* gosub, uint32_t* target);
void line_marker_judged(LineEntry* e, uint32_t offset, bool genuine, bool gosub, uint32_t target);

// Skipping: lines a construct passes over (a Case whose value did not match,
// the rest of a Switch after Break, an If branch not taken) do nothing but
// keep count of nested structures. The line loop notes, for the first line
// of such a run, the line where something happens again (the next Case, Else
// or closing statement at the same depth), for the kind and status of the
// structure entry being skipped, and the deepest extra nesting met between
// them; the next time it jumps there directly.
bool line_skip_target(const LineEntry* e, uint16_t kind, uint8_t status, uint32_t* target, uint32_t* extra);
void line_skip_record(LineEntry* e, uint16_t kind, uint8_t status, uint32_t target, uint32_t extra);

// A "Case" line whose value is one integer literal (nothing else on the line
// but blanks and a comment): 1 with the value, 0 when the line is not one,
// -1 when its tokens have not been read yet. Judged once per entry from its
// recorded tokens; evaluating such a Case can neither fail nor change
// anything, so the line loop compares the value itself.
int line_case_literal(const State* st, LineEntry* e, int32_t* value);

// A line holding nothing but one of the structure keywords that take no
// operand (Break, Continue, EndSwitch, EndSelect, EndIf, EndWhile, Next,
// EndFor): true with its token code. Judged once per entry like
// line_case_literal (false until the tokens are recorded).
bool line_lone_keyword(const State* st, LineEntry* e, uint32_t* code);

// A Switch line's known matches: for a value, the Case line that matches it
// when everything between the Switch and that line is Case lines with other
// literal values and runs of lines the skip records pass over (with the
// deepest extra nesting among them). Nothing in between can be seen, so the
// line loop goes to the matching line directly, under the same conditions as
// a skip record.
bool line_case_target(const LineEntry* e, int32_t value, uint32_t* target, uint32_t* extra);
void line_case_target_record(LineEntry* e, int32_t value, uint32_t target, uint32_t extra);

// Makes the entry's tokens describe State::line for the statement about to
// run (nullptr: none). Drops them first when functions were defined since.
void tokens_attach(State* st, LineEntry* e);
inline void tokens_detach(State* st) { st->tokLine = nullptr; }
// Serves the token at p (blanks skipped, not at the line's end) from the
// cache. Returns the get_token result, or -1 when it has none there.
int tokens_serve(State* st, char* p, bool prevAmp);
// Records the token just read by the ordinary path, which began at p.
void tokens_record(State* st, const char* p, bool dynamic);

// For the compiled expressions: whether the entry's tokens describe State::line
// (the same functions and extenders as when they were read), the line's text
// length, its tokens (sorted by offset) and their texts, and the expression
// site at `off` (created on first ask; nullptr without memory). Sites are
// dropped together with the tokens.
bool line_tokens_current(const State* st, const LineEntry* e);
uint32_t line_text_length(const LineEntry* e);
const CachedToken* line_tokens(const LineEntry* e, uint32_t* count);
const char* line_token_text(const LineEntry* e, const CachedToken& t);
ExprSite* line_expr_site(LineEntry* e, uint32_t off);

// A marker was written into the buffer: its lines must be read again (the
// old entries stay alive for statements that are still running).
void lines_stale(State* st, HGLOBAL buf);
// The buffer is freed: nothing of it runs any more.
void lines_forget(State* st, HGLOBAL buf);
// Everything (start of a run, tear-down).
void lines_forget_all(State* st);
