// Internals shared by the executor's files (statement.cpp, structures.cpp,
// jumps.cpp, udf.cpp, lineloop.cpp). Not part of the cross-module API.
#pragma once
#include "exec.h"
#include "tokenizer.h"
#include "keywords.h"

struct LineEntry;

namespace ex {

// A statement handler, entered with the statement's keyword as the current
// token (st->prog just after it). `offset` is the statement's offset in cx->line.
typedef int (*StmtHandler)(State* st, StmtCtx* cx, int offset);

// structures.cpp
int do_if(State* st, StmtCtx* cx, int offset);
int do_elseif(State* st, StmtCtx* cx, int offset);
int do_else(State* st, StmtCtx* cx, int offset);
int do_endif(State* st, StmtCtx* cx, int offset);
int do_while(State* st, StmtCtx* cx, int offset);
int do_endwhile(State* st, StmtCtx* cx, int offset);
int do_for(State* st, StmtCtx* cx, int offset);
int do_to(State* st, StmtCtx* cx, int offset);
int do_next(State* st, StmtCtx* cx, int offset);
int do_foreach(State* st, StmtCtx* cx, int offset);
int do_switch(State* st, StmtCtx* cx, int offset);
int do_case(State* st, StmtCtx* cx, int offset);
// A line whose Case value is an integer literal, run while its Switch looks
// for a match without reading the line (see line_case_literal). -2: the line
// runs the ordinary way.
int case_quick(State* st, ::LineEntry* e);
// A literal Case line known to match the value of the Switch that just ran:
// its effect, applied without the line being read, when the line would do
// nothing else (nothing watches lines, no error is pending). False: nothing
// changed, the line runs.
bool case_known(State* st, ::LineEntry* e);
// A Break just ended the case of a Switch and the lines after it are known
// to be passed over up to the EndSwitch (or EndSelect) line `e`: that line's
// effect, applied without the line being read, under the conditions of
// case_known. False: nothing changed.
bool end_switch_known(State* st, ::LineEntry* e);
int do_endswitch(State* st, StmtCtx* cx, int offset);
int do_break(State* st, StmtCtx* cx, int offset);
int do_continue(State* st, StmtCtx* cx, int offset);
int do_end(State* st, StmtCtx* cx, int offset);

// jumps.cpp
int do_gosub(State* st, StmtCtx* cx, int offset);
int do_return(State* st, StmtCtx* cx, int offset);
int do_goto(State* st, StmtCtx* cx, int offset);
int do_marker(State* st, StmtCtx* cx, bool gosub, uint32_t target);

// statement.cpp: the handler of a structure keyword (nullptr: not one), and
// the helpers every handler uses.
StmtHandler structure_handler(uint32_t code);
// Reads the next token and evaluates the expression that starts with it.
// False with the error set (the cell then holds INT 0).
bool expr(State* st, Cell* out);
// The same for a value the caller converts to a number at once (see
// number_expression): integer text in a lone variable is read without a copy.
bool expr_number(State* st, Cell* out);
// True when the current token ends the statement (end of line or comment).
inline bool at_end(const State* st) { return st->delimType == TK_EOL; }
// 3074 "Expression continues past expected end." with detail 9518 before "[",
// else 9505. Always returns 0.
int extra_tokens(State* st);
// 3072 with detail 9501. Always returns 0.
int then_missing(State* st);
// Sets `code` and returns 0.
inline int fail(State* st, uint16_t code) { st->err = code; return 0; }
// The truth of a condition: integers and numeric text by value, a float by its
// rounded value (one too large for an integer counts as true). 3057 otherwise.
bool cond_true(State* st, Cell* c, bool* out);
// A number from a value (text is converted); false when it is not one.
bool to_number(State* st, Cell* c);
// Records the trace event of the statement.
inline void trace(State* st, int32_t event, bool outcome) {
    st->traceEvent = event;
    st->traceOutcome = outcome ? 1 : 0;
}
// Shows the trace the value a structure statement decided on (the cell is
// only read). Costs one test while the trace is off.
inline void trace_value(State* st, const Cell* c) {
    if (st->traceOn && g_traceWriter) g_traceWriter(st, TRACE_VALUE, nullptr, c);
}
// Skips blanks and tabs.
inline char* skip_blanks(char* p) {
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}
inline const char* skip_blanks(const char* p) {
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}
// Nothing but a comment (or nothing at all) follows.
inline bool rest_empty(const char* p) {
    p = skip_blanks(p);
    return *p == 0 || *p == ';';
}
// Runs `text` (a statement inside the current one: after Then, after a
// single-line Else, the text of Execute) through the executor.
int run_inner(State* st, StmtCtx* cx, const char* text);
// The statement at `text` is passed over (trace code 2 unless told otherwise).
int skip_statement(State* st, const char* text);
// Buffer position of the statement at `text` when it lies in cx->line and the
// line was not changed by substitution; false otherwise (no patching then).
bool stmt_position(const StmtCtx* cx, const char* text, uint32_t* pos);

// udf.cpp: saves the pending If result, clears it (Return restores it from a
// GoSub frame kind).
inline uint16_t gosub_kind(int8_t pendingIf) {
    return pendingIf < 0 ? SK_GOSUB_NONE : pendingIf ? SK_GOSUB_TRUE : SK_GOSUB_FALSE;
}
inline bool is_gosub(uint16_t kind) {
    return kind == SK_GOSUB_FALSE || kind == SK_GOSUB_TRUE || kind == SK_GOSUB_NONE;
}

}  // namespace ex
