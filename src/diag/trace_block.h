// Internals of the trace: the per-state trace block and the output channel.
#pragma once
#include "state.h"
#include <string>
#include <string_view>
#include <vector>

// Trace options (DebugTrace 102, 103, 104 and the option argument).
enum : uint32_t {
    TO_NOTIMES = 1,   // no "(n) " elapsed-time marks
    TO_ERRORS  = 2,   // errors are recorded also while the trace mode is off
    TO_DUMPS   = 4,   // each recorded error is followed by the structure-stack
                      // and keyword-lookup dumps
};

// Allocated on the first trace request of a state; State::traceBlock points
// to it and the tear-down frees it. The trace mode itself is State::traceOn
// (0 off, 1 or 2 on), which the executor tests and keeps per function body.
struct TraceBlock {
    wchar_t     dest[MAX_PATH] = {};   // full path, or "*DEBUGDATA*"; empty: none
    uint32_t    options = 0;
    bool        started = false;       // the opening lines are written
    DWORD       startTick = 0;         // elapsed times count from here
    uint16_t    lastUdf = 65535;       // function whose header was written last
    uint8_t     savedMode = 0;         // the mode DebugTrace 22 restores in a function
    bool        recordOpen = false;    // a failed statement's line is written, its error follows
    bool        hasValue = false;      // `value` belongs to the statement being recorded
    std::string value;                 // "TYPE => value" from TRACE_VALUE
    char        debugTitle[256] = {};  // title of the single-step window (Debug)
};

// The state's trace block, made on first use (nullptr when out of memory).
TraceBlock* trace_block(State* st);
inline bool trace_has_dest(const TraceBlock* t) { return t && t->dest[0]; }
bool trace_to_debugger(const TraceBlock* t);

// Collects the lines of one event and writes them in one go: appended to the
// trace file, which is opened and closed again for every event so that it is
// complete whatever happens to the process, or line by line to the debugger
// output. A destination that cannot be opened drops the event silently.
class TraceOut {
public:
    TraceOut(State* st, TraceBlock* t) : st_(st), t_(t) {}
    ~TraceOut() { flush(); }
    TraceOut(const TraceOut&) = delete;
    TraceOut& operator=(const TraceOut&) = delete;

    void line(std::string_view text);
    void blank() { text_ += "\r\n"; }
    // "(n) " with the milliseconds since the trace started, "" under option 1.
    std::string elapsed() const;
    // Writes the opening of a trace (first event after it was switched on):
    // a line of stars, "*** Debug Initialized ***" or, for an error that
    // starts the record, "*** Error Dump Initialized ***", and the
    // environment header. Starts the elapsed-time clock.
    void open_once(bool errorOnly);
    void flush();

private:
    State*      st_;
    TraceBlock* t_;
    std::string text_;
};

// "60 stars" and friends.
inline std::string repeat(char c, size_t n) { return std::string(n, c); }

// ---- texts (trace_text.cpp) ----
// The value of a cell as the trace shows it: the type name, " => ", the
// value (numbers as they print, strings in double quotes, <array>, ...).
std::string trace_value_text(State* st, const Cell* c);
// The value alone (no type), as the variable-table dump shows it.
std::string trace_plain_value(State* st, const Cell* c);
// A statement as read, with the jump markers that replace executed GoTo and
// GoSub keywords spelled out again ("goto ", "gosub").
std::string trace_statement_text(const char* line);
// Message `id` of the string table.
std::string trace_msg(State* st, uint32_t id);
// Date and time as TimeDate writes them: weekday, short date, time.
std::string trace_time_date(State* st);

// ---- dumps and the environment header (dumps.cpp, environment.cpp) ----
// "@CANCEL", "@NOTIFY", "@OFF" or "???".
const char* trace_error_mode_name(int32_t mode);
void trace_environment(State* st, TraceOut& out);
void dump_functions(State* st, TraceOut& out);
void dump_variables(State* st, TraceOut& out);
// The rows of the variable-table dump: type name, then "name = value".
std::vector<std::string> variable_rows(State* st);
void dump_keywords(State* st, TraceOut& out);
void dump_settings(State* st, TraceOut& out);
void dump_structures(State* st, TraceOut& out);
void dump_internal(State* st, TraceOut& out, const char* item);

// ---- DebugData, Debug (debugdata.cpp) and the single-step window (debug_step.cpp) ----
void fn_debugdata(State* st, int nargs, Cell* result, Cell* args, bool wide);
void fn_debug(State* st, int nargs, Cell* result, Cell* args, bool wide);
// Installs the single-step hook of the line loop (g_debugStep).
void debug_step_install();
