// Line loop, statement wrapper, statement executor, labels and user-defined functions.
//
// There is no parse tree: structured statements are matched at run time
// through the structure stack (State::stack). An opening statement pushes an
// entry, lines that must not run are still passed through the executor in
// skip mode so nested structures are counted, the closing statement pops.
// Loops run by moving the position from which the line loop reads next.
#pragma once
#include "state.h"

enum : uint16_t {
    SK_FOR = 504, SK_FOREACH = 505, SK_SWITCH = 715, SK_WHILE = 750,
    SK_IF = 10001, SK_ELSE = 10002,
    SK_GOSUB_FALSE = 29000, SK_GOSUB_TRUE = 29001, SK_GOSUB_NONE = 29003,
    SK_CALL = 350, SK_UDF = 29500,
};
enum : uint8_t { SS_EXEC = 0, SS_LOOKING = 1, SS_SKIPALL = 2, SS_CONTINUE = 4, SS_BREAK = 8 };

// Trace event codes recorded in State::traceEvent (the outcome in traceOutcome;
// for TE_GOSUB, State::traceWhy says why the frame was pushed: 0 GoSub,
// 1 cancel handler, 2 error handler).
enum : int32_t {
    TE_VALUE = 0, TE_IFLINE = 1, TE_SKIPPED = 2, TE_WHILE = 3, TE_END = 4, TE_SWITCH = 5,
    TE_BREAK = 6, TE_CONTINUE = 7, TE_FOR = 8, TE_GOSUB = 9, TE_IFBLOCK = 10, TE_ELSE = 11,
    TE_CASE = 12, TE_UDF = 13, TE_SCRIPT = 14, TE_ELSEIF = 15,
};

struct UdfRecord {
    uint16_t params;
    uint16_t nameLen;
    uint32_t cls;              // 2 function/subroutine, 9 command
    HGLOBAL  body;             // body copied still scrambled: byte i is keyed by position start + i
    uint32_t start;            // start position in the defining buffer
    uint32_t length;
    int32_t  lineInfo;         // -1 initially
    uint32_t kind;             // 0 function, 1 subroutine or command
    bool     distinctParams;   // no parameter name repeats: a call binds them without looking up
    char     name[31];
    char     paramNames[16][31];
    char     file[MAX_PATH];
    Cell*    args;             // argument cells of the call in progress
};

// One statement being run: where its text lives and where execution goes next.
struct StmtCtx {
    char*     line;         // the line buffer (State::line); statements are offsets into it
    uint32_t* next;         // in/out: position of the next line (&State::nextPos); jumps move it
    uint32_t  linePos;      // buffer position at which the line was read
    uint32_t  textPos;      // buffer position of line[0] (the first non-blank character)
    HGLOBAL   buf;          // buffer being executed
    bool      substituted;  // percent substitution changed the line: offsets no longer match the buffer
    uint32_t  lineEnd;      // position after the line: *next moved by a multi-line constant
                            // means the line buffer now holds another line
    Cell*     result;       // result cell of the running line loop
};

// ---- line loop (lineloop.cpp) ----
// Returns 1 buffer ended, 0 stopped (error in state), -1 Return ended the buffer.
// Re-entrant: a nested call (function body, callback, called script) saves and
// restores the running statement's line, token position and position records.
// The executor remembers the lines of every buffer it runs (linecache.h): code
// that frees a buffer that ran must call lines_forget(st, buf) first, since a
// new block may get the same handle.
int line_loop(State* st, Cell* result, HGLOBAL buf, uint32_t* pos, void* caller);
// Frees the saved contexts that nested line loops keep for reuse (tear-down).
void running_pool_free(State* st);
// Makes sure a nested line loop at the current depth has its saved context
// (false: no memory for it). Callers that must not start a run they cannot
// finish (error handlers) ask first; a nested run that finds no context
// reports 1672 itself.
bool running_context_ready(State* st);
// The line source of the running statement: reads the line after the current
// one (a multi-line string constant continues there) into out (LINE_BUF bytes)
// and advances State::nextPos. 1 a line, 0 none left.
int exec_next_line(State* st, char* out);

// ---- statements (statement.cpp) ----
// Statement wrapper: the executor, then the error decision. 1 continue, -1 Return, 0 stop.
int stmt_wrapper(State* st, StmtCtx* cx, int offset);
// Statement executor: 1 continue, 0 error or control code in st->err, -1 Return.
int stmt_exec(State* st, StmtCtx* cx, int offset);
// A cached line holding one structure keyword without operand, run without
// the wrapper's general checks (see line_lone_keyword). -2: not such a line,
// or the trace is on: run it through stmt_wrapper.
int stmt_keyword_quick(State* st, StmtCtx* cx, struct LineEntry* e);
// Passes over a statement that is not run: a multi-line string constant that
// opens in it has its continuation lines consumed too.
void stmt_skip(State* st, const char* text);

// ---- structure stack (structures.cpp) ----
// Whether the innermost structure passes over its lines.
// Whether something watches every line (the trace, the debug echo, a host
// notified per line): the line loop's shortcuts are off then.
inline bool lines_watched(const State* st) {
    return st->traceOn || st->debugOut || (st->hostNotify & HN_PERLINE);
}
inline bool is_skipping(const State* st) {
    const uint32_t n = st->stackCount;
    return n && st->stack[n - 1].status != SS_EXEC;
}
// Pushes an entry (status, saved loop flag, line, caller and script fields
// filled from the state). False with errIfFull when 100 entries are open.
bool struct_push(State* st, uint16_t kind, uint8_t status, uint16_t errIfFull = 3353);
void struct_pop(State* st);
// Pops entries until `count` remain (releasing ForEach enumerations).
void struct_unwind(State* st, uint32_t count);
inline StructEntry* struct_top(State* st) { return st->stackCount ? &st->stack[st->stackCount - 1] : nullptr; }

// Releases every ForEach enumeration the state holds (teardown).
void foreach_release_all(State* st);
// Enumeration of automation collections for ForEach, supplied by the COM
// client. While g_forEachObjects is null, ForEach over an object raises 3650.
struct ForEachObjectOps {
    // Opens an enumeration of the collection; *handle receives its state. False: error set.
    bool (*open)(State* st, const Cell* collection, void** handle);
    // 1 an item was stored in *item (a fresh cell), 0 exhausted, -1 error set.
    int  (*next)(State* st, void* handle, Cell* item);
    void (*close)(State* st, void* handle);
};
extern const ForEachObjectOps* g_forEachObjects;

// ---- labels and jumps (jumps.cpp) ----
// 1 found (pos set to the label line, which the line loop reads next), 0 with 3033/3032.
// Unless noPatch, the calling statement at stmtPos becomes a jump marker.
int label_search(State* st, const char* name, uint32_t* pos, uint32_t linePos, uint32_t stmtPos,
                 HGLOBAL buf, bool noPatch);
// Jump markers: 158 (GoSub) or 159 (GoTo), then a 24-bit position in four
// 6-bit groups, most significant first, each stored as 64 + group.
constexpr uint8_t JM_GOSUB = 158, JM_GOTO = 159;
constexpr uint32_t JM_MAXPOS = 0xFFFFFF;
void jump_marker_encode(uint8_t out[5], bool gosub, uint32_t pos);
bool jump_marker_decode(const char* text, bool* gosub, uint32_t* pos);
// Whether the statement text (which begins with 158 or 159) is a marker that
// label_search wrote: it decodes, the label's name still follows it, and the
// target is the line after that label's line. Fills *gosub and *target.
bool jump_marker_genuine(State* st, const StmtCtx* cx, const char* text, bool* gosub, uint32_t* target);
// Writes a marker over the 5 bytes at `at` of a scrambled buffer. False if it cannot.
bool jump_marker_patch(State* st, HGLOBAL buf, uint32_t at, bool gosub, uint32_t target);

// ---- user-defined functions (udf.cpp) ----
typedef int (*NativeUdfCb)(State* st, Cell* result, Cell* args, int nargs, void* ctx);
// kind: 0 ordinary, 1 dialog callback, 2 error/cancel handler, 3 COM event.
// args[1..nargs] are the argument cells (args[0] unused), as the dispatcher passes them.
int udf_call(State* st, uint32_t id, Cell* result, Cell* args, int nargs, NativeUdfCb cb, void* ctx, int kind);
UdfRecord* udf_record(State* st, uint32_t index);
int udf_find(State* st, const char* lname);    // record index or -1
// Definition directives, called by the line loop with the line text. Return
// 1 handled, 0 error set.
int udf_define(State* st, const char* line, int directive, uint32_t nextPos);
int udf_end(State* st, int directive, HGLOBAL buf, uint32_t linePos);
// Header of a definition (text after the directive word). 0 accepted, 1 the
// name is already defined (the caller ignores the new body), -1 syntax error.
int udf_parse_header(State* st, const char* text, bool command, UdfRecord* out);
// Runs a #DefineCommand record with the rest of the statement as its words.
int udf_command(State* st, uint32_t id, const char* rest, Cell* result);
// Frees every record and body and the local variable tables kept for reuse
// (teardown), and resets the definition state.
void udf_free_all(State* st);
// Key position of byte 0 of the running buffer (State::curBuffer): the start
// of the function whose body is running, else 0. Pass it to read_line and
// source_location for that buffer.
uint32_t exec_key_base(State* st);

// The six definition directives, as udf_define/udf_end receive them.
enum : int { DIR_DEFFUNC = 0, DIR_DEFSUB = 1, DIR_DEFCMD = 2, DIR_ENDFUNC = 3, DIR_ENDSUB = 4, DIR_ENDCMD = 5 };
// Which directive a line starts with (case-insensitive), or -1.
int directive_of(const char* line);

// ---- trace hook ----
// The trace writer plugs in here; while null nothing is written. Called when
// State::traceOn is set: after each statement (TRACE_STATEMENT, the line and
// the result cell), at the end of the main script (TRACE_END_OF_JOB), and when
// a user-defined function is entered or left (TRACE_EVENT: traceEvent 13,
// traceOutcome 1 entering / 0 leaving, traceWhy the call kind, text its name;
// traceEvent 14 for a script started by Call, text the called file; traceEvent
// 9 with traceWhy 1 or 2 when a cancel or error handler is entered as a GoSub).
// Further events:
//   TRACE_VALUE       the value a structure statement decided on (If/ElseIf
//                     condition, Switch and Case value, loop variable, the
//                     value of Return), before the statement's record
//   TRACE_JOB_FAILED  the main script stopped on an error (or 9013 to 9016);
//                     called whether or not the trace is on
//   TRACE_ERROR       an error the error handling has decided about; value is
//                     an INT: the error number, plus 10000 when it ends the
//                     run; called whether or not the trace is on
//   TRACE_UDF_LEFT    the traced body of a function ended; text its name
//   TRACE_ERRORMODE   ErrorMode set the error mode
//   TRACE_MESSAGE     value is an INT message number whose text gets a line
//                     of its own (callback notices of dialogs and COM events)
//   TRACE_TEXT        text is a line to write as it stands (extender loading)
enum : int {
    TRACE_STATEMENT = 0, TRACE_END_OF_JOB = 1, TRACE_EVENT = 2, TRACE_VALUE = 3, TRACE_JOB_FAILED = 4,
    TRACE_ERROR = 5, TRACE_UDF_LEFT = 6, TRACE_ERRORMODE = 7, TRACE_MESSAGE = 8, TRACE_TEXT = 9,
};
typedef void (*TraceWriter)(State* st, int event, const char* text, const Cell* value);
extern TraceWriter g_traceWriter;

// ---- single-step hook ----
// While State::debugOut is 1 (Debug) the line loop calls this before each
// statement, after writing the line to the debugger output. The hook may set
// State::pendingErr (9999 cancels the run) or clear State::debugOut.
typedef void (*DebugStepHook)(State* st, const char* line);
extern DebugStepHook g_debugStep;
