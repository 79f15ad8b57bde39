// The script's error controls: ErrorMode, LastError, ErrorEvent and the
// handler settings of IntControl 72 (cancel) and 73 (error).
#include "errors.h"
#include "dispatch.h"
#include "eval.h"
#include "exec.h"
#include "keywords.h"
#include "value.h"
#include <cstdio>
#include <cstring>

namespace {

int32_t int_arg(State* st, Cell* c) {
    if (c->type == TW_INT) return c->i;
    Cell tmp;
    if (!cell_copy(st, &tmp, c, CM_BARE | CC_DUPSTRINGS)) return 0;
    int32_t v = conv_to_int(st, &tmp, true, false) ? tmp.i : 0;
    cell_release(st, &tmp, CM_BARE);
    return v;
}

// ANSI text of a string argument (a wide one is converted with the state's code page).
void text_arg(State* st, const Cell* c, char* out, int size) {
    out[0] = 0;
    if (c->type & TW_UNICODE) {
        const wchar_t* w = cell_wstr(st, c);
        WideCharToMultiByte(st->codePage, 0, w, -1, out, size, nullptr, nullptr);
        out[size - 1] = 0;   // a text longer than the buffer is cut
    } else if (c->type & TW_STRING) {
        snprintf(out, size, "%s", cell_str(st, c));
    } else {
        Cell tmp;
        if (cell_copy(st, &tmp, c, CM_BARE | CC_DUPSTRINGS) && conv_to_ansi(st, &tmp))
            snprintf(out, size, "%s", cell_str(st, &tmp));
        cell_release(st, &tmp, CM_BARE);
    }
}

// ErrorMode(mode): 0 @OFF, 1 @CANCEL, anything else @NOTIFY; returns the previous mode.
void bi_errormode(State* st, int nargs, Cell* result, Cell* args, bool) {
    const int32_t previous = st->errorMode;
    if (nargs >= 1) {
        const int32_t v = int_arg(st, &args[1]);
        st->errorMode = v == 0 ? EM_OFF : v == 1 ? EM_CANCEL : EM_NOTIFY;
        if (st->traceOn && g_traceWriter) g_traceWriter(st, TRACE_ERRORMODE, nullptr, nullptr);
    }
    cell_set_int(st, result, previous);
}

void bi_lasterror(State* st, int, Cell* result, Cell*, bool) {
    cell_set_int(st, result, st->lastErr);
}

// ErrorEvent(severity, code, text): raises a user-defined error. Without an
// error handler it is reported at once as "User-Defined Error:  code: text";
// the run goes on unless the mode is @CANCEL, the error is severe or the user
// chose Exit (then the error becomes 9016, already reported).
void bi_errorevent(State* st, int nargs, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, 0);
    if (nargs < 3) { st->err = 3066; return; }
    const int32_t severity = int_arg(st, &args[1]);
    const int32_t code = int_arg(st, &args[2]);
    uint16_t e;
    switch (severity) {
    case -1: e = 1668; break;
    case -2: e = 2669; break;
    case -3: e = 3670; break;
    default: st->err = 1666; return;
    }
    if (code < 7000 || code >= 8000) { st->err = 1667; return; }
    st->userCode = static_cast<uint16_t>(code);
    text_arg(st, &args[3], st->userText, sizeof st->userText);
    st->err = e;
    // A handler takes it like any other error; inside Execute the Execute box reports it.
    if (st->errHandlerMode != 0 || st->inExecute) return;

    const int level = err_severity(e);
    if (st->errorMode == EM_OFF && level == SEV_MINOR) {
        st->lastErr = static_cast<uint16_t>(code);
        if (!err_set_vars(st, e, false, nullptr)) return;   // its memory error is reported instead
        st->err = 0;
        trace_error(st, e, false);
        return;
    }
    char label[64], numbered[400];
    msg_text(st, 879, label, sizeof label);
    snprintf(numbered, sizeof numbered, "%s  %d: %s", label, code, st->userText);
    const int goOn = err_report_text(st, nullptr, e, level, numbered);
    err_detail_free(st);
    st->err = goOn ? 0 : 9016;
}

int set_mode(int32_t* field, char* funcField, int mode, const char* func) {
    const int previous = *field;
    if (mode >= 0 && mode <= 3) {
        *field = mode;
        if (mode == 3) snprintf(funcField, VARNAMESIZE + 1, "%s", func ? func : "");
    }
    return previous;
}

} // namespace

int errctl_cancel_mode(State* st, int mode, const char* func) {
    return set_mode(&st->cancelMode, st->cancelFunc, mode, func);
}

int errctl_error_mode(State* st, int mode, const char* func) {
    return set_mode(&st->errHandlerMode, st->errFunc, mode, func);
}

const BuiltinEntry g_errorBuiltins[] = {
    { KW_ERROREVENT, bi_errorevent },
    { KW_ERRORMODE,  bi_errormode },
    { KW_LASTERROR,  bi_lasterror },
};
const int g_errorBuiltinCount = sizeof g_errorBuiltins / sizeof g_errorBuiltins[0];
