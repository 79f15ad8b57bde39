// The decision after each statement: control codes, the script's cancel and
// error handlers, and otherwise the report by severity and error mode.
//
// Handlers come in three forms, chosen by IntControl 72 (cancel) and 73
// (error): a jump to the label CANCEL / CXERRORHANDLER (mode 1, or -1 for the
// cancel label inside a function body), the same jump as a GoSub so that
// Return resumes after the failing statement (mode 2), or a call of a
// user-defined function that receives cxerrorarray (mode 3). Modes 1 and 2 are
// one-shot; mode 3 stays armed while the function's result has bit 0 set.
#include "errors.h"
#include "dispatch.h"
#include "eval.h"
#include "exec.h"
#include "value.h"
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

// Makes the statement being decided the context of any report, and on the way
// out restores the enclosing one (handler functions decide their own
// statements while ours is pending) and frees the detail block.
class ReportScope {
public:
    ReportScope(State* st, const char* line, uint32_t linePos, uint32_t nextPos, HGLOBAL buf)
        : st_(st), line_(st->reportLine), buf_(st->reportBuf), linePos_(st->reportLinePos),
          nextPos_(st->reportNextPos) {
        st->reportLine = line ? line : st->line;
        st->reportBuf = buf;
        st->reportLinePos = linePos;
        st->reportNextPos = nextPos;
    }
    ~ReportScope() {
        err_detail_free(st_);
        st_->reportLine = line_;
        st_->reportBuf = buf_;
        st_->reportLinePos = linePos_;
        st_->reportNextPos = nextPos_;
    }
    ReportScope(const ReportScope&) = delete;
    ReportScope& operator=(const ReportScope&) = delete;
private:
    State* st_;
    const char* line_;
    HGLOBAL buf_;
    uint32_t linePos_, nextPos_;
};

// A host that asked for error notifications hears of every error from 100 on:
// request -7 with "NNNN:  message".
void notify_host(State* st, uint32_t e) {
    if (!(st->hostNotify & HN_ERRORS) || e < 100) return;
    char msg[1100], text[1200];
    msg_text(st, e, msg, sizeof msg);
    snprintf(text, sizeof text, "%u:  %s", e, msg);
    host_notify(st, -7, text, e);
}

// Pushes the GoSub frame of a mode-2 handler (why: 1 cancel, 2 error handler):
// Return resumes at `resume`, after the statement that failed.
bool push_handler_frame(State* st, uint16_t errIfFull, int why, uint32_t resume, uint32_t linePos,
                        HGLOBAL buf) {
    const uint16_t kind = st->pendingIf < 0 ? SK_GOSUB_NONE
                        : st->pendingIf ? SK_GOSUB_TRUE : SK_GOSUB_FALSE;
    if (!struct_push(st, kind, SS_EXEC, errIfFull)) return false;
    StructEntry& e = st->stack[st->stackCount - 1];
    e.resume = resume;
    e.linePos = linePos;
    e.caller = buf;
    st->loopFlag = 0;
    st->pendingIf = -1;
    st->traceEvent = TE_GOSUB;
    st->traceOutcome = 1;
    st->traceWhy = why;
    return true;
}

// A handler entered as a GoSub shows in the trace as "GOSUB" with its kind.
void trace_handler_entry(State* st) {
    if (st->traceOn && g_traceWriter) g_traceWriter(st, TRACE_EVENT, nullptr, nullptr);
}

// A label that is not there clears the error; a search that had no memory
// leaves 1588, which is then reported in place of the error.
bool jump_to_label(State* st, const char* label, uint32_t* nextPos, uint32_t linePos, HGLOBAL buf) {
    uint32_t pos = *nextPos;
    if (!label_search(st, label, &pos, linePos, st->curStmtPos, buf, true)) {
        if (st->err != 1588) st->err = 0;
        return false;
    }
    *nextPos = pos;
    return true;
}

// Calls handler function `name` with cxerrorarray for error e. Returns the
// result's bits (bit 0 keep armed, bit 1 decline), or -1 when the function is
// missing or unsuitable or failed; *mode drops to 0 unless bit 0 came back.
// st->err is 0 afterwards, or the control code the handler ended with. -2
// when there was no memory to call it (its variables, its local table): st->err
// holds that error, to be reported in place of e.
int call_handler(State* st, const char* name, uint32_t e, int32_t* mode) {
    char lname[VARNAMESIZE + 1];
    size_t n = strnlen(name, VARNAMESIZE);
    for (size_t i = 0; i < n; ++i) lname[i] = static_cast<char>(tolower(static_cast<unsigned char>(name[i])));
    lname[n] = 0;
    int idx = isalpha(static_cast<unsigned char>(lname[0])) ? udf_find(st, lname) : -1;
    const UdfRecord* rec = idx >= 0 ? udf_record(st, static_cast<uint32_t>(idx)) : nullptr;
    Cell arr;
    if (!rec || rec->params != 1) {
        *mode = 0;
        return -1;
    }
    if (!err_set_vars(st, e, true, &arr)) return -2;
    st->err = 0;
    char* detail = st->detail;   // the handler's own statements must not consume our details
    st->detail = nullptr;
    Cell args[2];
    cell_init(&args[0]);
    args[1] = arr;
    Cell result;
    cell_init(&result);
    int ok = udf_call(st, UDFSTART + static_cast<uint32_t>(idx), &result, args, 1, nullptr, nullptr, 2);
    err_detail_free(st);
    st->detail = detail;
    cell_release(st, &arr, CM_BARE);
    if (!ok && (st->err == 1672 || st->err == 3673)) return -2;   // it could not start
    int bits = -1;
    if (ok && st->err == 0) {
        bits = conv_to_int(st, &result, true, false) ? (result.i & 3) : 0;
        st->err = 0;
    }
    cell_release(st, &result, CM_BARE);
    if (bits < 0 || !(bits & 1)) *mode = 0;
    return bits;
}

// Cancel (9999): 1 continue at the handler, 0 the run ends, -1 the handler's
// frame could not be pushed (st->err holds 3618, to be reported).
int take_cancel(State* st, uint32_t* nextPos, uint32_t linePos, HGLOBAL buf) {
    const int mode = st->cancelMode;
    if (mode == 1 || mode == -1 || mode == 2) {
        if (!err_set_vars(st, 9999, false, nullptr)) return -1;
        st->err = 0;
        if (mode == 2 && !push_handler_frame(st, 3618, 1, *nextPos, linePos, buf)) return -1;
        if (!jump_to_label(st, "CANCEL", nextPos, linePos, buf)) {
            if (mode == 2) struct_pop(st);
            if (st->err == 1588) return -1;
            st->err = 9999;
            return 0;
        }
        if (mode == 2) trace_handler_entry(st);
        if (mode != -1) st->cancelMode = 0;
        return 1;
    }
    if (mode == 3) {
        int bits = call_handler(st, st->cancelFunc, 9999, &st->cancelMode);
        if (bits == -2) return -1;
        if (bits >= 0 && !(bits & 2)) return 1;
        if (st->err != 9000) st->err = 9999;
        return 0;
    }
    return 0;   // no handler: the run ends, and a cancel is not an error
}

// An error below 9000: 1 taken by the handler, 0 the run ends (Exit in a
// handler), -1 not taken (st->err holds what is to be reported).
int take_error(State* st, uint16_t e, uint32_t* nextPos, uint32_t linePos, HGLOBAL buf) {
    const int mode = st->errHandlerMode;
    if (mode == 1 || mode == 2) {
        st->lastErr = static_cast<uint16_t>(err_reported_number(st, e));
        if (!err_set_vars(st, e, false, nullptr)) return -1;
        st->err = 0;
        st->errHandlerMode = 0;
        if (mode == 2 && !push_handler_frame(st, 3619, 2, *nextPos, linePos, buf)) return -1;
        if (!jump_to_label(st, "CXERRORHANDLER", nextPos, linePos, buf)) {
            if (mode == 2) struct_pop(st);
            if (st->err != 1588) st->err = e;
            return -1;
        }
        // Inside an If or Switch the handler's lines must not be skipped.
        StructEntry* top = st->stackCount ? &st->stack[st->stackCount - 1] : nullptr;
        if (mode == 1 && top && (top->kind == SK_IF || top->kind == SK_ELSE || top->kind == SK_SWITCH))
            top->status = SS_EXEC;
        trace_error(st, e, false);
        if (mode == 2) trace_handler_entry(st);
        return 1;
    }
    if (mode == 3) {
        st->lastErr = static_cast<uint16_t>(err_reported_number(st, e));
        int bits = call_handler(st, st->errFunc, e, &st->errHandlerMode);
        if (bits == -2) return -1;
        if (bits >= 0 && !(bits & 2)) {
            trace_error(st, e, false);
            return 1;
        }
        if (st->err == 9000) return 0;
        st->err = e;
    }
    return -1;
}

// Reports an error nobody took: 1 continue, 0 stop.
int report_error(State* st, uint16_t e) {
    const int severity = err_severity(e);
    if (st->errorMode == EM_OFF && severity == SEV_MINOR) {
        st->lastErr = static_cast<uint16_t>(err_reported_number(st, e));
        if (!err_set_vars(st, e, false, nullptr)) {
            // No memory even for the variables: that stops the run, shown.
            const uint16_t m = st->err;
            return err_report(st, nullptr, 1, m, SEV_FATAL);
        }
        st->err = 0;
        trace_error(st, e, false);
        return 1;
    }
    return err_report(st, nullptr, 1, e, severity);
}

} // namespace

int err_after_statement(State* st, const char* lineText, uint32_t linePos, uint32_t* nextPos,
                        HGLOBAL buf) {
    ReportScope scope(st, lineText, linePos, *nextPos, buf);
    const uint16_t e = st->err;
    if (e == 0) return 1;
    if (e == 9998) {
        st->err = 0;
        return 1;
    }
    if (e == 9999) {
        int r = take_cancel(st, nextPos, linePos, buf);
        return r >= 0 ? r : report_error(st, st->err);
    }
    if (e >= 9000) return 0;           // Exit, stop requests, errors already shown
    notify_host(st, e);
    int r = take_error(st, e, nextPos, linePos, buf);
    return r >= 0 ? r : report_error(st, st->err);
}
