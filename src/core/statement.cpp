// The statement wrapper and the statement executor.
//
// The executor looks at a statement's first token and picks its handler: a
// structure keyword (structures.cpp, jumps.cpp), a command keyword (Beep,
// Execute, Exit, GoTo, Yield), a #DefineCommand name (udf.cpp), or else an
// assignment or expression handed to the evaluator. The wrapper runs the
// executor and then gives any error to the error machinery, which decides
// whether the run goes on.
#include "exec_internal.h"
#include "linecache.h"
#include "eval.h"
#include "value.h"
#include "errors.h"
#include "loader.h"
#include <array>
#include <cstring>
#include <cstdio>
#include <iterator>
#include <memory>
#include <new>

namespace ex {

namespace {

// Structure keywords and whether they reset the pending single-line If
// result before they run (If, Else, GoSub and Return manage it themselves).
struct StructOp {
    uint32_t    code;
    StmtHandler fn;
    bool        resetsIf;
};

const StructOp kStructOps[] = {
    {KW_IF,        do_if,        false},
    {KW_ELSEIF,    do_elseif,    true},
    {KW_ELSE,      do_else,      false},
    {KW_ENDIF,     do_endif,     true},
    {KW_WHILE,     do_while,     true},
    {KW_ENDWHILE,  do_endwhile,  true},
    {KW_FOR,       do_for,       true},
    {KW_TO,        do_to,        true},
    {KW_NEXT,      do_next,      true},
    {KW_ENDFOR,    do_next,      true},
    {KW_FOREACH,   do_foreach,   true},
    {KW_SWITCH,    do_switch,    true},
    {KW_SELECT,    do_switch,    true},
    {KW_CASE,      do_case,      true},
    {KW_ENDSWITCH, do_endswitch, true},
    {KW_ENDSELECT, do_endswitch, true},
    {KW_BREAK,     do_break,     true},
    {KW_CONTINUE,  do_continue,  true},
    {KW_END,       do_end,       true},
    {KW_GOSUB,     do_gosub,     false},
    {KW_RETURN,    do_return,    false},
};

// The structure keywords' handlers indexed by token code: every statement
// of a loop body looks its first keyword up here.
constexpr uint32_t kStructLimit = [] {
    uint32_t m = 0;
    for (const StructOp& op : kStructOps) m = op.code > m ? op.code : m;
    return m + 1;
}();
constexpr auto kStructIndex = [] {
    std::array<int8_t, kStructLimit> index{};
    for (auto& i : index) i = -1;
    for (size_t k = 0; k < std::size(kStructOps); ++k) index[kStructOps[k].code] = static_cast<int8_t>(k);
    return index;
}();

const StructOp* find_struct(uint32_t code) {
    if (code >= kStructLimit || kStructIndex[code] < 0) return nullptr;
    return &kStructOps[kStructIndex[code]];
}

// ---- command keywords ----

int cmd_beep(State* st, StmtCtx*, int) {
    if (is_skipping(st)) return skip_statement(st, "");
    MessageBeep(0xFFFFFFFF);   // the simple beep
    MessageBeep(0);            // the default sound
    return 1;
}

int cmd_yield(State* st, StmtCtx*, int) {
    if (is_skipping(st)) return skip_statement(st, "");
    pump_messages(st);
    return 1;
}

int cmd_exit(State* st, StmtCtx*, int) {
    if (is_skipping(st)) return skip_statement(st, "");
    st->pendingIf = -1;
    return fail(st, 9000);
}

// The message an Execute warning names in its title.
void execute_message(State* st, uint16_t e, char* out, int size) {
    if (e < 9000) msg_text(st, e, out, size);
    else if (e == 9016 && st->userText[0]) snprintf(out, size, "%s", st->userText);
    else msg_text(st, 9002, out, size);   // "Previously reported error"
}

// Execute: the rest of the line runs as a statement of its own. Its failure
// is not passed on: a warning box (unless IntControl 87 is 2) shows the
// statement, and the run goes on with the next line; Cancel stops it (9013).
int cmd_execute(State* st, StmtCtx* cx, int offset) {
    if (is_skipping(st)) return skip_statement(st, cx->line + offset);
    const char* text = skip_blanks(st->prog);
    if (*text == 0 || *text == ';') return 1;
    const uint8_t outer = st->inExecute;
    st->inExecute = 1;
    int rc = run_inner(st, cx, text);
    st->inExecute = outer;
    if (rc != 0) return rc;
    const uint16_t e = st->err;
    if (!(e && (e < 9000 || e == 9013 || e == 9015 || e == 9016))) return 0;   // Exit, cancel: go on up
    if (st->executeMode != 2) {
        char msg[1024], title[1100];
        execute_message(st, e, msg, sizeof msg);
        snprintf(title, sizeof title, "EXECUTE::%s", msg);
        const UINT buttons = st->executeMode == 0 ? MB_OKCANCEL : MB_OK;
        if (core_box(st, text, title, buttons | MB_ICONEXCLAMATION) == IDCANCEL && st->executeMode == 0) {
            err_detail_free(st);
            return fail(st, 9013);
        }
    }
    st->err = 0;
    err_detail_free(st);
    return 1;
}

struct CommandOp {
    uint32_t    code;
    StmtHandler fn;
};

const CommandOp kCommandOps[] = {
    {KW_BEEP,    cmd_beep},
    {KW_EXECUTE, cmd_execute},
    {KW_EXIT,    cmd_exit},
    {KW_GOTO,    do_goto},
    {KW_YIELD,   cmd_yield},
};

// A statement whose first token is a keyword of class 8 or 4, or a
// #DefineCommand name. -2: not one of these (an expression statement).
int keyword_statement(State* st, StmtCtx* cx, int offset) {
    const uint32_t code = st->tok;
    if (code < NKEYTOKENS) {
        const uint32_t cls = g_keywords[code].cls;
        if (cls == KC_STRUCT) {
            const StructOp* op = find_struct(code);
            if (!op) {
                if (is_skipping(st)) return skip_statement(st, cx->line + offset);
                return fail(st, 3352);
            }
            if (op->resetsIf) st->pendingIf = -1;
            return op->fn(st, cx, offset);
        }
        if (cls == KC_COMMAND) {
            for (const CommandOp& op : kCommandOps)
                if (op.code == code) return op.fn(st, cx, offset);
            if (is_skipping(st)) return skip_statement(st, cx->line + offset);
            return fail(st, 3352);
        }
        return -2;
    }
    if (code >= UDFSTART && code < UDFSTART + MAX_UDF) {
        const KeywordRec* r = kw_record(st, code);
        if (r && r->cls == KC_UDCOMMAND) {
            if (is_skipping(st)) return skip_statement(st, cx->line + offset);
            cell_release(st, cx->result, CM_VARBOUND);
            cell_init(cx->result);
            return udf_command(st, code, st->prog, cx->result);
        }
    }
    return -2;
}

// Multi-line constants while skipping: 1 when the text leaves one open,
// `state` saying whether the text began inside one.
int multiline_scan(const char* s, int state) {
    char quote = 0;
    for (; *s; ++s) {
        if (state) {
            if (s[0] == '$' && s[1] == '"') {
                state = 0;
                ++s;
            }
            continue;
        }
        if (quote) {
            if (*s == quote) quote = 0;
            continue;
        }
        if (*s == ';') break;
        if (*s == '"' || *s == '\'' || *s == '`') quote = *s;
        else if (s[0] == '$' && s[1] == '"') {
            state = 1;
            ++s;
        }
    }
    return state;
}

}  // namespace

StmtHandler structure_handler(uint32_t code) {
    const StructOp* op = find_struct(code);
    return op ? op->fn : nullptr;
}

bool expr(State* st, Cell* out) {
    if (!get_token(st)) {
        cell_init(out);
        return false;
    }
    return ProcessSubExpression(st, out, 0, 0, 0) != 0;
}

bool expr_number(State* st, Cell* out) {
    if (!get_token(st)) {
        cell_init(out);
        return false;
    }
    return number_expression(st, out) != 0;
}

int extra_tokens(State* st) {
    const bool bracket = st->delimType == TK_KEYWORD && st->tok == KW_OP_LBRACKET;
    st->err = 3074;
    err_detailf(st, bracket ? 9518 : 9505);
    return 0;
}

int then_missing(State* st) {
    st->err = 3072;
    err_detailf(st, 9501);
    return 0;
}

bool cond_true(State* st, Cell* c, bool* out) {
    bool ok = true;
    if (c->type == TW_FLOAT) {
        int64_t v;
        bool is64;
        *out = float_to_int(c->f, false, &v, &is64) ? v != 0 : true;   // too large: true
    } else if (conv_to_int(st, c, true, true)) {
        *out = (c->type & TW_INT64) ? c->i64 != 0 : c->i != 0;
    } else {
        ok = false;
    }
    cell_release(st, c, CM_VARBOUND);
    if (!ok && !st->err) st->err = 3057;
    return ok;
}

bool to_number(State* st, Cell* c) { return conv_to_number(st, c); }

bool stmt_position(const StmtCtx* cx, const char* text, uint32_t* pos) {
    if (cx->substituted || *cx->next != cx->lineEnd) return false;
    if (text < cx->line || text >= cx->line + LINE_BUF) return false;
    *pos = cx->textPos + static_cast<uint32_t>(text - cx->line);
    return true;
}

int run_inner(State* st, StmtCtx* cx, const char* text) {
    if (text >= cx->line && text < cx->line + LINE_BUF && *cx->next == cx->lineEnd)
        return stmt_exec(st, cx, static_cast<int>(text - cx->line));
    // The text lives elsewhere (after a multi-line constant): run it without
    // buffer positions, so nothing is patched.
    StmtCtx inner = *cx;
    inner.line = const_cast<char*>(text);
    inner.substituted = true;
    return stmt_exec(st, &inner, 0);
}

int skip_statement(State* st, const char* text) {
    trace(st, TE_SKIPPED, false);
    stmt_skip(st, text);
    return st->err == 1588 ? 0 : 1;   // no memory to read the constant's lines
}

}  // namespace ex

using namespace ex;

// Sets 1588 when there is no memory for the line it reads.
void stmt_skip(State* st, const char* text) {
    int state = multiline_scan(text, 0);
    if (!state) return;
    std::unique_ptr<char[]> buf(new (std::nothrow) char[LINE_BUF]);
    if (!buf) {
        st->err = 1588;
        return;
    }
    while (state && exec_next_line(st, buf.get()) == 1) state = multiline_scan(buf.get(), state);
}

int stmt_exec(State* st, StmtCtx* cx, int offset) {
    char* text = cx->line + offset;
    const uint8_t first = static_cast<uint8_t>(*text);
    if (first == JM_GOSUB || first == JM_GOTO) {
        bool gosub = false;
        uint32_t target = 0;
        // The line's entry remembers the judgement (its text cannot change).
        const bool inLine = text >= st->line && text < st->line + LINE_BUF;
        auto* entry = inLine ? static_cast<LineEntry*>(st->tokLine) : nullptr;
        const uint32_t offset = inLine ? static_cast<uint32_t>(text - st->line) : 0;
        int judged = entry ? line_marker(entry, offset, &gosub, &target) : -1;
        if (judged < 0) {
            judged = jump_marker_genuine(st, cx, text, &gosub, &target) ? 1 : 0;
            if (entry) line_marker_judged(entry, offset, judged == 1, gosub, target);
        }
        if (judged == 1) return do_marker(st, cx, gosub, target);
    }

    // A leading "*": an assignment through the variable pointer held by the
    // variable that follows.
    // The flag is written only when set: the tokenizer reads it together with
    // its neighbours, and a fresh one-byte store under that wider read stalls.
    const bool ptr = *text == '*';
    st->prog = ptr ? text + 1 : text;
    if (ptr) st->ptrPrefix = 1;
    int got = get_token(st);
    if (ptr) st->ptrPrefix = 0;
    if (!got) {
        if (!is_skipping(st)) return 0;
        st->err = 0;   // tokenizer errors in lines that do not run are ignored
        err_detail_free(st);
        return skip_statement(st, text);
    }
    if (at_end(st)) {
        if (is_skipping(st)) return skip_statement(st, text);
        return fail(st, 3071);
    }
    if (st->delimType == TK_KEYWORD && !ptr) {
        int rc = keyword_statement(st, cx, offset);
        if (rc != -2) return rc;
    }
    if (is_skipping(st)) return skip_statement(st, text);

    // Assignment or expression statement.
    cell_release(st, cx->result, CM_VARBOUND);
    cell_init(cx->result);
    if (!statement_expression(st, cx->result, ptr ? 1 : 0)) return 0;
    if (!at_end(st)) return extra_tokens(st);
    trace(st, TE_VALUE, true);
    return 1;
}

int stmt_keyword_quick(State* st, StmtCtx* cx, LineEntry* e) {
    uint32_t code;
    if (st->traceOn || st->err || st->pendingLineTooLong || st->pendingErr || !line_lone_keyword(st, e, &code))
        return -2;
    // What the wrapper and the executor do for such a line, without their
    // checks for what the line is not (a jump marker, a pointer, an
    // expression); the keyword is read as always (from the line's tokens).
    st->traceEvent = TE_VALUE;
    st->traceOutcome = 1;
    st->traceWhy = 0;
    st->prog = cx->line;
    if (!get_token(st) || st->delimType != TK_KEYWORD || st->tok != code) {
        if (!st->err) st->err = 3054;
    } else {
        const StructOp* op = find_struct(code);
        if (op->resetsIf) st->pendingIf = -1;
        const int rc = op->fn(st, cx, 0);
        if (!st->err) return rc == -1 ? -1 : 1;
    }
    st->errorEvents++;
    return err_after_statement(st, cx->line, cx->linePos, cx->next, cx->buf) ? 1 : 0;
}

int stmt_wrapper(State* st, StmtCtx* cx, int offset) {
    st->traceEvent = TE_VALUE;
    st->traceOutcome = 1;
    st->traceWhy = 0;
    int rc;
    if (st->pendingLineTooLong) {   // the line reader cut this line
        st->pendingLineTooLong = 0;
        rc = fail(st, 3722);
    } else if (st->pendingErr) {    // an error injected from outside
        st->err = st->pendingErr;
        st->pendingErr = 0;
        rc = 0;
    } else {
        rc = stmt_exec(st, cx, offset);
    }
    if (st->traceOn && g_traceWriter) g_traceWriter(st, TRACE_STATEMENT, cx->line, cx->result);
    if (!st->err) return rc == -1 ? -1 : 1;
    st->errorEvents++;
    return err_after_statement(st, cx->line, cx->linePos, cx->next, cx->buf) ? 1 : 0;
}

TraceWriter g_traceWriter = nullptr;
