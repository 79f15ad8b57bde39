// The trace writer: one record per statement with its result or decision,
// the calls into and returns from functions and scripts, every error the
// error handling decided about, and the end of the job.
//
// A statement record is the statement as read, then "(n) " with the
// milliseconds since the trace started and the result line; a blank line ends
// it. A statement that failed is written without a result line: the error
// handling then calls in with the error, whose lines complete the record.
#include "trace_block.h"
#include "trace.h"
#include "errors.h"
#include "exec.h"
#include "value.h"
#include <cstdio>
#include <new>

namespace {

// What a result line shows after its label.
enum : uint8_t {
    SHOW_NONE,
    SHOW_RESULT,   // the statement's result cell
    SHOW_KEPT,     // the value the statement decided on (TRACE_VALUE), when there was one
};

// Result lines by trace event code; [0] is the outcome false, [1] true.
struct Outcome {
    const char* text[2];
    uint8_t     show[2];
};
const Outcome kOutcomes[] = {
    /* 0 TE_VALUE    */ {{"VALUE", "VALUE"}, {SHOW_RESULT, SHOW_RESULT}},
    /* 1 TE_IFLINE   */ {{"==>FALSE=> (skipped)", "==>TRUE=>"}, {SHOW_NONE, SHOW_RESULT}},
    /* 2 TE_SKIPPED  */ {{"STATEMENT SKIPPED", "STATEMENT SKIPPED"}, {SHOW_NONE, SHOW_NONE}},
    /* 3 TE_WHILE    */ {{"WHILE==>FALSE", "WHILE==>TRUE"}, {SHOW_NONE, SHOW_NONE}},
    /* 4 TE_END      */ {{"END OPERATOR", "END OPERATOR"}, {SHOW_NONE, SHOW_NONE}},
    /* 5 TE_SWITCH   */ {{"SWITCH==>", "SWITCH==>"}, {SHOW_KEPT, SHOW_KEPT}},
    /* 6 TE_BREAK    */ {{"BREAK IGNORED", "BREAKING"}, {SHOW_NONE, SHOW_NONE}},
    /* 7 TE_CONTINUE */ {{"CONTINUE IGNORED", "CONTINUING"}, {SHOW_NONE, SHOW_NONE}},
    /* 8 TE_FOR      */ {{"FOR FALSE==>", "FOR TRUE==>"}, {SHOW_KEPT, SHOW_KEPT}},
    /* 9 TE_GOSUB    */ {{"RETURN VALUE", "GOSUB"}, {SHOW_KEPT, SHOW_NONE}},
    /* 10 TE_IFBLOCK */ {{"IF DO==>FALSE", "IF DO==>TRUE"}, {SHOW_KEPT, SHOW_KEPT}},
    /* 11 TE_ELSE    */ {{"ELSE DO==>FALSE", "ELSE DO==>TRUE"}, {SHOW_NONE, SHOW_NONE}},
    /* 12 TE_CASE    */ {{"CASE FALSE==>", "CASE TRUE==>"}, {SHOW_KEPT, SHOW_KEPT}},
    /* 13 TE_UDF     */ {{"RETURNING FROM UDF", "CALLING UDF"}, {SHOW_NONE, SHOW_NONE}},
    /* 14 TE_SCRIPT  */ {{"RETURNING FROM SCRIPT", "CALLING SCRIPT"}, {SHOW_NONE, SHOW_NONE}},
    /* 15 TE_ELSEIF  */ {{"ELSEIF DO==>FALSE", "ELSEIF DO==>TRUE"}, {SHOW_KEPT, SHOW_KEPT}},
};

// Error lines by where the error came from: [0] suppressed, [1] terminal.
struct ErrorKind {
    const char* text[2];
};
const ErrorKind kKelError     = {{"KEL ERROR SUPPRESSED =>", "TERMINAL KEL ERROR=>"}};
const ErrorKind kExtError     = {{"EXTENDER ERROR SUPPRESSED =>", "TERMINAL EXTENDER ERROR=>"}};
const ErrorKind kUdfError     = {{"UDF ERROR SUPPRESSED =>", "TERMINAL UDF ERROR OCCURRED -- JOB EXITING=>"}};
const ErrorKind kUserError    = {{"USER-DEFINED ERROR SUPPRESSED =>", "TERMINAL USER-DEFINED ERROR=>"}};

// The trace must not change what the script does: whatever the writer calls
// leaves the error number and the system's last-error code as they were.
class Untouched {
public:
    explicit Untouched(State* st) : st_(st), err_(st->err), sysErr_(GetLastError()) {}
    ~Untouched() {
        st_->err = err_;
        SetLastError(sysErr_);
    }
    Untouched(const Untouched&) = delete;
    Untouched& operator=(const Untouched&) = delete;
private:
    State*   st_;
    uint16_t err_;
    DWORD    sysErr_;
};

std::string result_line(State* st, TraceBlock* t, const char* name, const Cell* value) {
    const int32_t ev = st->traceEvent;
    if (ev < 0 || ev >= static_cast<int32_t>(sizeof kOutcomes / sizeof kOutcomes[0])) return {};
    const int k = st->traceOutcome ? 1 : 0;
    std::string s = kOutcomes[ev].text[k];
    switch (kOutcomes[ev].show[k]) {
    case SHOW_RESULT:
        if (value) s.append(" ").append(trace_value_text(st, value));
        break;
    case SHOW_KEPT:
        if (t->hasValue) s.append(" ").append(t->value);
        break;
    default:
        break;
    }
    if (ev == TE_UDF && name) s.append(" (").append(name).append(")");
    if (ev == TE_SCRIPT && name) s.append(" ").append(name);
    if (ev == TE_GOSUB && k == 1 && (st->traceWhy == 1 || st->traceWhy == 2))
        s.append(" ").append(trace_msg(st, st->traceWhy == 1 ? 882 : 883));   // "Cancel handler" / "Error handler"
    return s;
}

// A failed statement's record waits for its error; anything else closes it.
void close_record(TraceBlock* t, TraceOut& out) {
    if (!t->recordOpen) return;
    out.blank();
    t->recordOpen = false;
}

// "--- (n) In UDF (name) ---" and the date and time, when the statements
// recorded move into another function than the one whose header came last.
void function_header(State* st, TraceBlock* t, TraceOut& out) {
    const uint16_t udf = st->inUdf ? st->curUdf : 65535;
    if (udf == t->lastUdf) return;
    t->lastUdf = udf;
    const UdfRecord* rec = udf == 65535 ? nullptr : udf_record(st, udf);
    if (!rec) return;
    std::string mark = out.elapsed();
    if (!mark.empty()) mark.pop_back();   // "(n)" between the dashes, without its blank
    out.line("--- " + (mark.empty() ? "" : mark + " ") + trace_msg(st, 875) + " (" + rec->name + ") ---");
    out.line(trace_time_date(st));
}

void on_statement(State* st, TraceBlock* t, const char* line, const Cell* result) {
    TraceOut out(st, t);
    out.open_once(false);
    close_record(t, out);
    function_header(st, t, out);
    out.line(trace_statement_text(line ? line : ""));
    const uint16_t e = st->err;
    if (e == 0) {
        out.line(out.elapsed() + result_line(st, t, nullptr, result));
        out.blank();
    } else if (e < 9000) {
        t->recordOpen = true;   // the error handling completes it
    } else {
        out.blank();            // Exit, a cancel, an error shown inside a function
    }
    t->hasValue = false;
}

// A call into or a return from a function or script, or a handler entered as
// a GoSub: the statement that caused it and the event.
void on_event(State* st, TraceBlock* t, const char* name) {
    TraceOut out(st, t);
    out.open_once(false);
    close_record(t, out);
    out.line(trace_statement_text(st->line));
    out.line(out.elapsed() + result_line(st, t, name, nullptr));
    if (st->traceEvent == TE_UDF && st->traceOutcome) {
        t->savedMode = st->traceOn;   // what DebugTrace 22 restores inside the body
        if (st->traceWhy == 1) out.line(trace_msg(st, 887));   // "[ Dialog Callback Triggered ]"
        if (st->traceWhy == 3) out.line(trace_msg(st, 886));   // "[ COM Event Callback Triggered ]"
    }
    out.blank();
}

void on_error(State* st, TraceBlock* t, const Cell* number) {
    const bool wanted = st->traceOn || (st->udfNesting && t->savedMode) || (t->options & TO_ERRORS);
    if (!wanted || !trace_has_dest(t) || !number) return;
    const uint32_t raw = static_cast<uint32_t>(number->i);
    const bool terminal = raw >= 10000;
    const uint32_t e = terminal ? raw - 10000 : raw;

    const ErrorKind* kind = &kKelError;
    const bool user = e == 1668 || e == 2669 || e == 3670;
    const bool ext = e == 1213 || e == 2214 || e == 3215;
    if (user) kind = &kUserError;
    else if (ext) kind = &kExtError;
    else if (st->inUdf) kind = &kUdfError;

    TraceOut out(st, t);
    out.open_once(true);
    if (!t->recordOpen) out.line(trace_statement_text(st->reportLine ? st->reportLine : st->line));
    t->recordOpen = false;
    char num[16];
    snprintf(num, sizeof num, "%u", err_reported_number(st, e));
    out.line(out.elapsed() + kind->text[terminal ? 1 : 0] + num);
    out.line(" (" + ((user || ext) ? std::string(st->userText) : trace_msg(st, e)) + ")");
    out.blank();
    if (t->options & TO_DUMPS) {
        dump_structures(st, out);
        dump_keywords(st, out);
    }
}

void on_end(State* st, TraceBlock* t, bool normal) {
    if (!normal && !st->traceOn && !((t->options & TO_ERRORS) && t->started)) return;
    TraceOut out(st, t);
    out.open_once(false);
    close_record(t, out);
    if (st->stackCount) out.line("********** Warning: Structure level not 0 **********");
    if (normal) out.line("--- " + trace_msg(st, 869) + " ---");    // "Normal termination"
    out.line(";;;" + trace_msg(st, 805) + ";;;");                  // "END OF JOB"
    out.blank();
}

void on_line(State* st, TraceBlock* t, const std::string& text) {
    TraceOut out(st, t);
    out.open_once(false);
    close_record(t, out);
    out.line(text);
}

void write_event(State* st, TraceBlock* t, int event, const char* text, const Cell* value) {
    switch (event) {
    case TRACE_VALUE:
        if (!st->traceOn || !value) return;
        t->value = trace_value_text(st, value);
        t->hasValue = true;
        return;
    case TRACE_ERROR:
        on_error(st, t, value);
        return;
    case TRACE_JOB_FAILED:
        if (trace_has_dest(t)) on_end(st, t, false);
        return;
    default:
        break;
    }
    if (!st->traceOn || !trace_has_dest(t)) return;
    switch (event) {
    case TRACE_STATEMENT: on_statement(st, t, text, value); break;
    case TRACE_EVENT:     on_event(st, t, text); break;
    case TRACE_END_OF_JOB: on_end(st, t, true); break;
    case TRACE_UDF_LEFT:
        on_line(st, t, "--- " + trace_msg(st, 876) + " (" + (text ? text : "") + ") ---");   // "Leaving UDF"
        on_line(st, t, "");
        break;
    case TRACE_ERRORMODE:
        on_line(st, t, std::string("********** ErrorMode: ") + trace_error_mode_name(st->errorMode) + " **********");
        break;
    case TRACE_MESSAGE:
        if (value) on_line(st, t, trace_msg(st, static_cast<uint32_t>(value->i)));
        break;
    case TRACE_TEXT:
        on_line(st, t, text ? text : "");
        break;
    default:
        break;
    }
}

}  // namespace

// A record that cannot be built for lack of memory is left out: the trace
// only watches, and the statement it describes goes on as it would untraced.
void trace_write(State* st, int event, const char* text, const Cell* value) {
    TraceBlock* t = st->traceBlock;
    if (!t) return;
    Untouched keep(st);
    try {
        write_event(st, t, event, text, value);
    } catch (const std::bad_alloc&) {
    }
}
