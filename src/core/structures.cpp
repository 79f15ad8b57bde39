// Structured statements: If/ElseIf/Else/EndIf, While/EndWhile, For/To/Next,
// ForEach, Switch/Case/EndSwitch, Break, Continue and End.
//
// Nothing is parsed ahead. An opening statement pushes a structure entry
// whose status says whether the lines under it run (0) or are passed over
// (1 looking for a branch, 2 skipping everything, 4 Continue, 8 Break); lines
// that do not run still come through here so nested entries are counted, and
// the closing statement pops. Loops jump back by setting the next-line
// position: EndWhile to the While line, Next to the For's To clause (the To
// pass increments and tests) or to the ForEach line (which fetches the next item).
#include "exec_internal.h"
#include "linecache.h"
#include "eval.h"
#include "value.h"
#include "errors.h"
#include "loader.h"
#include "library/items/maptable.h"
#include <cstring>
#include <memory>
#include <new>

const ForEachObjectOps* g_forEachObjects = nullptr;

namespace {

using namespace ex;

// ---- the structure stack ----

// A running ForEach enumeration, one per stack level.
struct ForEachIter {
    ArrayHdr* arr;      // array being walked (one reference held), or nullptr
    uint32_t  next;     // next flat index
    void*     object;   // enumeration from g_forEachObjects, or nullptr
};

void free_iter(State* st, ForEachIter* it) {
    if (!it) return;
    if (it->arr) arr_release(st, it->arr);
    if (it->object && g_forEachObjects) g_forEachObjects->close(st, it->object);
    delete it;
}

void release_iter(State* st, uint32_t level) {
    auto* it = static_cast<ForEachIter*>(st->forEachSlots[level]);
    st->forEachSlots[level] = nullptr;
    free_iter(st, it);
}

}  // namespace

bool struct_push(State* st, uint16_t kind, uint8_t status, uint16_t errIfFull) {
    // At most 100 entries: the slot above the top keeps a popped frame readable.
    if (st->stackCount + 1 >= MAX_STRUCT) {
        st->err = errIfFull;
        return false;
    }
    release_iter(st, st->stackCount);   // a level left without a pop (GoTo, Call)
    StructEntry& e = st->stack[st->stackCount++];
    e.kind = kind;
    e.resume = 0;
    e.linePos = st->curLinePos;
    e.caller = st->curBuffer;
    e.script = st->curUdf;
    e.inUdf = st->inUdf;
    e.status = status;
    e.savedLoop = st->loopFlag;
    e.var = 0;
    e.tempVar = SLOT_NONE;
    return true;
}

void struct_pop(State* st) {
    if (!st->stackCount) return;
    release_iter(st, --st->stackCount);
}

void struct_unwind(State* st, uint32_t count) {
    while (st->stackCount > count) struct_pop(st);
}

void foreach_release_all(State* st) {
    for (uint32_t i = 0; i < MAX_STRUCT; ++i) release_iter(st, i);
}

namespace ex {

namespace {

// Pushes a loop or switch entry, which makes Break and Continue legal.
bool push_loop(State* st, uint16_t kind, uint8_t status) {
    if (!struct_push(st, kind, status)) return false;
    st->loopFlag = 1;
    return true;
}

// Pops a loop or switch entry and gives the loop flag back.
void pop_loop(State* st) {
    st->loopFlag = st->stack[st->stackCount - 1].savedLoop;
    struct_pop(st);
}

// The top entry when it is of one of the kinds, else the error for a closing
// statement: 3354 on an empty stack, `other` for a mismatch.
StructEntry* top_of(State* st, uint16_t k1, uint16_t k2, uint16_t other) {
    StructEntry* top = struct_top(st);
    if (!top) return fail(st, 3354), nullptr;
    if (top->kind != k1 && top->kind != k2) return fail(st, other), nullptr;
    return top;
}

// A structure opened while skipping: an entry with status 2 so that its
// closing statement has something to pop.
int push_skipped(State* st, uint16_t kind, const char* stmt, bool loop) {
    if (loop ? !push_loop(st, kind, SS_SKIPALL) : !struct_push(st, kind, SS_SKIPALL)) return 0;
    return skip_statement(st, stmt);
}

// Evaluates an expression that must end the statement (3074 otherwise).
bool expr_to_end(State* st, Cell* c) {
    if (!expr(st, c)) return false;
    if (!at_end(st)) {
        cell_release(st, c, CM_VARBOUND);
        return extra_tokens(st), false;
    }
    return true;
}

// A Switch or Case value: an integer (numeric text accepted); floats and
// anything else are 3364.
bool switch_value(State* st, Cell* c, int32_t* v) {
    bool ok = false;
    if (!(c->type & TW_FLOAT) && conv_to_int(st, c, false, true)) {
        if (c->type & TW_INT64) {
            ok = c->i64 >= INT32_MIN && c->i64 <= INT32_MAX;
            *v = static_cast<int32_t>(c->i64);
        } else {
            ok = true;
            *v = c->i;
        }
    }
    cell_release(st, c, CM_VARBOUND);
    if (!ok) st->err = 3364;
    return ok;
}

// The statement text from the keyword on.
const char* stmt_text(StmtCtx* cx, int offset) { return cx->line + offset; }

bool negative(const Cell* c) {
    if (c->type & TW_FLOAT) return c->f < 0;
    if (c->type & TW_INT64) return c->i64 < 0;
    return c->i < 0;
}

}  // namespace

// ---- If / ElseIf / Else / EndIf ----

namespace {

// The condition of an If or ElseIf, which ends at Then or with the line
// (3072 otherwise). False with the error set.
bool if_condition(State* st, bool* truth, bool* then) {
    Cell c;
    if (!expr(st, &c)) return false;
    *then = st->delimType == TK_KEYWORD && st->tok == KW_THEN;
    if (!*then && !at_end(st)) {
        cell_release(st, &c, CM_VARBOUND);
        return then_missing(st), false;
    }
    trace_value(st, &c);
    return cond_true(st, &c, truth);
}

}  // namespace

int do_if(State* st, StmtCtx* cx, int offset) {
    if (is_skipping(st)) {
        // The condition is not evaluated: read up to Then to see which form this is.
        bool then = false;
        for (;;) {
            if (!get_token(st)) {
                st->err = 0;
                err_detail_free(st);
                break;
            }
            if (at_end(st)) break;
            if (st->delimType == TK_KEYWORD && st->tok == KW_THEN) {
                then = true;
                break;
            }
        }
        if (then && !rest_empty(st->prog)) return skip_statement(st, stmt_text(cx, offset));
        st->pendingIf = -1;
        return push_skipped(st, SK_IF, stmt_text(cx, offset), false);
    }
    bool truth, then;
    if (!if_condition(st, &truth, &then)) return 0;
    if (then && !rest_empty(st->prog)) {
        // Single-line form: the statement after Then runs only when true; a
        // following single-line Else reads the result.
        const char* rest = skip_blanks(st->prog);
        st->pendingIf = truth ? 1 : 0;
        int rc = truth ? run_inner(st, cx, rest) : skip_statement(st, rest);
        trace(st, TE_IFLINE, truth);
        return rc;
    }
    st->pendingIf = -1;
    if (!struct_push(st, SK_IF, truth ? SS_EXEC : SS_LOOKING)) return 0;
    trace(st, TE_IFBLOCK, truth);
    return 1;
}

int do_elseif(State* st, StmtCtx* cx, int offset) {
    st->pendingIf = -1;
    StructEntry* top = struct_top(st);
    if (!top || top->kind != SK_IF) return fail(st, 3368);
    if (top->status != SS_LOOKING) {
        // A branch already ran (0 becomes 2), or the whole If is being skipped.
        if (top->status == SS_EXEC) top->status = SS_SKIPALL;
        int rc = skip_statement(st, stmt_text(cx, offset));
        trace(st, TE_ELSEIF, false);
        return rc;
    }
    bool truth, then;
    if (!if_condition(st, &truth, &then)) return 0;
    if (then && !rest_empty(st->prog)) {   // ElseIf has no single-line form
        if (!get_token(st)) return 0;
        return extra_tokens(st);
    }
    if (truth) top->status = SS_EXEC;
    trace(st, TE_ELSEIF, truth);
    return 1;
}

int do_else(State* st, StmtCtx* cx, int offset) {
    if (!rest_empty(st->prog)) {
        // Single-line Else: relates to the last single-line If and leaves its
        // result alone, so "Else If ..." chains keep working.
        const char* rest = skip_blanks(st->prog);
        if (is_skipping(st)) return skip_statement(st, stmt_text(cx, offset));
        if (st->pendingIf < 0) return fail(st, 3050);
        const bool run = st->pendingIf == 0;
        int rc = run ? run_inner(st, cx, rest) : skip_statement(st, rest);
        trace(st, TE_IFLINE, run);
        return rc;
    }
    st->pendingIf = -1;
    StructEntry* top = struct_top(st);
    if (!top) return fail(st, 3354);
    if (top->kind != SK_IF) return fail(st, 3358);
    if (top->status == SS_EXEC) top->status = SS_LOOKING;
    else if (top->status == SS_LOOKING) top->status = SS_EXEC;
    top->kind = SK_ELSE;
    trace(st, TE_ELSE, top->status == SS_EXEC);
    return 1;
}

int do_endif(State* st, StmtCtx*, int) {
    StructEntry* top = top_of(st, SK_IF, SK_ELSE, 3357);
    if (!top) return 0;
    // A Break or Continue met inside the If travels out to the enclosing loop.
    const uint8_t request = top->status & (SS_CONTINUE | SS_BREAK);
    struct_pop(st);
    trace(st, TE_END, true);
    if (request) {
        StructEntry* below = struct_top(st);
        if (!below) return fail(st, 3359);
        below->status |= request;
    }
    return 1;
}

// ---- While / EndWhile ----

int do_while(State* st, StmtCtx* cx, int offset) {
    if (is_skipping(st)) return push_skipped(st, SK_WHILE, stmt_text(cx, offset), true);
    Cell c;
    if (!expr_to_end(st, &c)) return 0;
    bool truth;
    if (!cond_true(st, &c, &truth)) return 0;
    if (!push_loop(st, SK_WHILE, truth ? SS_EXEC : SS_LOOKING)) return 0;
    StructEntry* e = struct_top(st);
    e->resume = cx->linePos;
    e->linePos = cx->linePos;
    trace(st, TE_WHILE, truth);
    return 1;
}

int do_endwhile(State* st, StmtCtx* cx, int) {
    StructEntry* top = top_of(st, SK_WHILE, SK_WHILE, 3357);
    if (!top) return 0;
    // Popped either way: the While line is read again and re-tests its condition.
    if ((top->status & 11) == 0) *cx->next = top->resume;
    pop_loop(st);
    trace(st, TE_END, true);
    return 1;
}

// ---- For / To / Next ----

namespace {

// Position of the word "to" in a raw For line (outside quotes and comments),
// or -1. Used when substitution changed the line so that offsets in the
// substituted text say nothing about the buffer.
int raw_to_offset(const char* s) {
    char quote = 0;
    bool prevName = false;
    for (int i = 0; s[i]; ++i) {
        char c = s[i];
        if (quote) {
            if (c == quote) quote = 0;
            prevName = false;
            continue;
        }
        if (c == ';') break;
        if (c == '"' || c == '\'' || c == '`') {
            quote = c;
            prevName = false;
            continue;
        }
        auto isName = [](char ch) {
            return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                   ch == '_' || ch == '@' || ch == '.' || ch == '%' || static_cast<unsigned char>(ch) >= 128;
        };
        if (!prevName && (c == 't' || c == 'T') && (s[i + 1] == 'o' || s[i + 1] == 'O') && !isName(s[i + 2]) &&
            i > 3)
            return i;
        prevName = isName(c);
    }
    return -1;
}

// Buffer position of the To clause of the For statement being run.
bool to_clause_position(State* st, StmtCtx* cx, int offset, uint32_t* pos) {
    const char* to = st->prog - 2;   // the To keyword was just read
    if (!cx->substituted && to >= cx->line && to < cx->line + LINE_BUF) {
        *pos = cx->textPos + static_cast<uint32_t>(to - cx->line);
        return true;
    }
    // Substitution moved the text: find the word in the line as written.
    std::unique_ptr<char[]> raw(new (std::nothrow) char[LINE_BUF]);
    if (!raw) return fail(st, 1588), false;
    uint32_t p = cx->linePos, textPos = 0;
    const uint8_t pending = st->pendingLineTooLong;
    int r = read_line(st, cx->buf, &p, raw.get(), &textPos, exec_key_base(st));
    st->pendingLineTooLong = pending;
    if (r != 1) return false;
    int at = raw_to_offset(raw.get() + (offset < LINE_BUF ? offset : 0));
    if (at < 0) return false;
    *pos = textPos + static_cast<uint32_t>(offset + at);
    return true;
}

// The To pass of the common loop: no By clause, a plain 32-bit integer
// variable below the largest one and an integer limit, while no trace shows
// the value. Does what the general pass below does (the variable assigned
// its next value, compared with the limit) without copying the variable into
// cells; false when the loop is not of this kind (nothing done).
bool count_by_one(State* st, uint16_t slot, const Cell& limit, bool fromNext) {
    if (!at_end(st) || st->traceOn || limit.type != TW_INT) return false;
    VarSlot* s = var_slot(st, slot);
    const Cell* c = s ? reinterpret_cast<const Cell*>(s->cell) : nullptr;
    if (!c || c->type != TW_INT || c->i == INT32_MAX) return false;
    int32_t v = c->i;
    if (fromNext) {
        Cell next;
        cell_init(&next, ++v);
        if (!var_assign(st, slot, &next)) return false;
    }
    const bool again = limit.i >= v;
    struct_top(st)->status = again ? SS_EXEC : SS_LOOKING;
    trace(st, TE_FOR, again);
    return true;
}

// The To pass: evaluates the limit and the step, increments the variable
// when coming from Next, and decides whether the body runs again.
int to_pass(State* st, bool fromNext) {
    StructEntry* top = struct_top(st);
    if (!top || top->kind != SK_FOR) return fail(st, 3362);
    const uint16_t slot = top->var;
    Cell limit, var, step;
    if (!expr_number(st, &limit)) return 0;
    if (!to_number(st, &limit)) {
        cell_release(st, &limit, CM_VARBOUND);
        return fail(st, 3361);
    }
    if (count_by_one(st, slot, limit, fromNext)) return 1;
    if (!var_read(st, slot, &var) || !to_number(st, &var)) {
        cell_release(st, &limit, CM_BARE);
        cell_release(st, &var, CM_VARBOUND);
        return fail(st, 3361);
    }
    var.slot = SLOT_NONE;
    var.level = LEVEL_NONE;
    if (!at_end(st)) {
        if (!(st->delimType == TK_KEYWORD && st->tok == KW_BY)) {
            cell_release(st, &limit, CM_BARE);
            cell_release(st, &var, CM_BARE);
            return extra_tokens(st);
        }
        bool ok = expr_to_end(st, &step);
        if (ok && !to_number(st, &step)) {
            cell_release(st, &step, CM_VARBOUND);
            ok = fail(st, 3361);
        }
        if (!ok) {
            cell_release(st, &limit, CM_BARE);
            cell_release(st, &var, CM_BARE);
            return 0;
        }
    } else {
        cell_init(&step, 1);
        if (var.type & TW_INT64) {
            step.type = TW_INT64;
            step.i64 = 1;
        } else if (var.type & TW_FLOAT) {
            step.type = TW_FLOAT;
            step.f = 1.0;
            step.i = 0;
        }
    }
    const bool down = negative(&step);
    if (fromNext) {
        if (!apply_binary(st, KW_OP_PLUS, &var, &step) || !var_assign(st, slot, &var)) {
            cell_release(st, &limit, CM_BARE);
            cell_release(st, &var, CM_BARE);
            return 0;
        }
    } else {
        cell_release(st, &step, CM_BARE);
    }
    trace_value(st, &var);
    // limit >= variable counting up, limit <= variable counting down.
    bool ok = compare_cells(st, down ? KW_OP_LE : KW_OP_GE, &limit, &var, true, false);
    top = struct_top(st);
    if (!ok) return 0;
    const bool again = limit.i != 0;
    top->status = again ? SS_EXEC : SS_LOOKING;
    trace(st, TE_FOR, again);
    return 1;
}

}  // namespace

int do_for(State* st, StmtCtx* cx, int offset) {
    if (is_skipping(st)) return push_skipped(st, SK_FOR, stmt_text(cx, offset), true);
    if (!get_token(st)) return 0;
    if (st->delimType != TK_VARIABLE) return fail(st, 3051);
    const uint16_t slot = var_create(st, st->token, TW_UNINIT);
    if (slot == SLOT_NONE) return fail(st, 3051);
    if (!get_token(st)) return 0;
    if (!(st->delimType == TK_KEYWORD && st->tok == KW_OP_ASSIGN)) return fail(st, 3360);
    Cell start;
    if (!expr(st, &start)) return 0;
    if (!to_number(st, &start)) {
        cell_release(st, &start, CM_VARBOUND);
        return fail(st, 3361);
    }
    bool stored = var_assign(st, slot, &start);
    cell_release(st, &start, CM_VARBOUND);
    if (!stored) return 0;
    if (!(st->delimType == TK_KEYWORD && st->tok == KW_TO)) return fail(st, 3360);
    uint32_t toPos;
    if (!to_clause_position(st, cx, offset, &toPos)) return st->err ? 0 : fail(st, 3360);
    if (!push_loop(st, SK_FOR, SS_EXEC)) return 0;
    StructEntry* e = struct_top(st);
    e->var = slot;
    e->resume = toPos;
    e->linePos = cx->linePos;
    return to_pass(st, false);
}

int do_to(State* st, StmtCtx* cx, int offset) {
    // Reached by Next jumping back to the To clause of its For, which then
    // runs (status 0) or has a Continue pending (4). Anywhere else a To line
    // that does not run is passed over.
    const StructEntry* top = struct_top(st);
    const bool again = top && top->kind == SK_FOR && (top->status & 11) == 0;
    if (!again && is_skipping(st)) return skip_statement(st, stmt_text(cx, offset));
    return to_pass(st, true);
}

int do_next(State* st, StmtCtx* cx, int) {
    StructEntry* top = top_of(st, SK_FOR, SK_FOREACH, 3357);
    if (!top) return 0;
    if (top->kind == SK_FOREACH && top->status == SS_BREAK) release_iter(st, st->stackCount - 1);
    if ((top->status & 11) == 0) *cx->next = top->resume;   // the entry stays
    else pop_loop(st);
    trace(st, TE_END, true);
    return 1;
}

// ---- ForEach ----

namespace {

// Fetches the next item into the loop variable: status 0 for an item, 1 when
// the collection is exhausted (Next then ends the loop).
int foreach_step(State* st, StructEntry* e) {
    auto* it = static_cast<ForEachIter*>(st->forEachSlots[st->stackCount - 1]);
    int got = 0;
    if (it && it->arr) {
        ArrayHdr* a = it->arr;
        // Elements without a value are passed over.
        while (it->next < a->count && a->elements) {
            Cell* el = arr_elem(a, it->next++);
            if (el->type & TW_HASVALUE) {
                if (!var_assign(st, e->var, el)) return 0;
                trace_value(st, el);
                got = 1;
                break;
            }
        }
    } else if (it && it->object && g_forEachObjects) {
        Cell item;
        cell_init(&item);
        got = g_forEachObjects->next(st, it->object, &item);
        if (got > 0) {
            trace_value(st, &item);
            bool ok = var_assign(st, e->var, &item);
            cell_release(st, &item, CM_BARE);
            if (!ok) return 0;
        }
        if (got < 0) return 0;
    }
    e->status = got ? SS_EXEC : SS_LOOKING;
    trace(st, TE_FOR, got != 0);
    return 1;
}

// Opens the enumeration of a collection value into a fresh slot.
bool foreach_open(State* st, Cell* coll, ForEachIter** out) {
    std::unique_ptr<ForEachIter> it(new (std::nothrow) ForEachIter);
    if (!it) return fail(st, 1588), false;
    it->arr = nullptr;
    it->next = 0;
    it->object = nullptr;
    if ((coll->type & TW_ARRAY) && coll->arr && (coll->arr->flags & ARR_MAP)) {
        // A map gives its keys, in the order they were added; the loop walks
        // a copy of them, so the body may change the map.
        Cell keys;
        if (!items::map_keys_array(st, coll->arr, &keys)) return false;
        it->arr = keys.arr;   // the reference of the new array passes to the enumeration
    } else if ((coll->type & TW_ARRAY) && coll->arr) {
        it->arr = coll->arr;
        arr_addref(it->arr);
    } else if ((coll->type & TW_VARIANT) && g_forEachObjects) {
        if (!g_forEachObjects->open(st, coll, &it->object)) {
            if (!st->err) st->err = 3650;
            return false;
        }
    } else {
        return fail(st, 3650), false;
    }
    *out = it.release();
    return true;
}

}  // namespace

int do_foreach(State* st, StmtCtx* cx, int offset) {
    StructEntry* top = struct_top(st);
    // Next jumps back to this line: then it is the running loop's next pass.
    if (top && top->kind == SK_FOREACH && top->linePos == cx->linePos && top->caller == cx->buf)
        return foreach_step(st, top);
    if (is_skipping(st)) return push_skipped(st, SK_FOREACH, stmt_text(cx, offset), true);

    if (!get_token(st)) return 0;
    if (st->delimType != TK_VARIABLE) return fail(st, 3729);
    const uint16_t slot = var_create(st, st->token, TW_UNINIT);
    if (slot == SLOT_NONE) return 0;
    // "In" is not a keyword: read it as a bare word so that no variable is made.
    if (!get_string_token(st) || _stricmp(st->token, "in") != 0) {
        err_detail_free(st);
        return fail(st, 3729);
    }
    Cell coll;
    if (!expr_to_end(st, &coll)) return 0;
    ForEachIter* it = nullptr;
    bool opened = foreach_open(st, &coll, &it);
    cell_release(st, &coll, CM_VARBOUND);
    if (!opened) return 0;
    if (!push_loop(st, SK_FOREACH, SS_EXEC)) {
        free_iter(st, it);
        return 0;
    }
    StructEntry* e = struct_top(st);
    e->var = slot;
    e->resume = cx->linePos;
    e->linePos = cx->linePos;
    e->caller = cx->buf;
    st->forEachSlots[st->stackCount - 1] = it;
    if (!foreach_step(st, e)) {
        pop_loop(st);
        return 0;
    }
    return 1;
}

// ---- Switch / Case / EndSwitch ----

int do_switch(State* st, StmtCtx* cx, int offset) {
    if (is_skipping(st)) return push_skipped(st, SK_SWITCH, stmt_text(cx, offset), true);
    Cell c;
    int32_t v;
    if (!expr_to_end(st, &c)) return 0;
    trace_value(st, &c);
    if (!switch_value(st, &c, &v)) return 0;
    if (!push_loop(st, SK_SWITCH, SS_LOOKING)) return 0;
    StructEntry* e = struct_top(st);
    e->resume = static_cast<uint32_t>(v) >> 16;
    e->var = static_cast<uint16_t>(static_cast<uint32_t>(v) & 0xFFFF);
    trace(st, TE_SWITCH, true);
    return 1;
}

namespace {

// A Case value compared with its Switch's: a match runs the case.
void case_decide(State* st, StructEntry* top, int32_t v) {
    const int32_t value = static_cast<int32_t>((top->resume << 16) | top->var);
    const bool match = v == value;
    if (match) top->status = SS_EXEC;
    trace(st, TE_CASE, match);
}

}  // namespace

int do_case(State* st, StmtCtx* cx, int offset) {
    StructEntry* top = struct_top(st);
    if (!top || top->kind != SK_SWITCH) return fail(st, 3365);
    if (top->status == SS_EXEC) {   // a case is running: fall through
        trace(st, TE_CASE, true);
        return 1;
    }
    if (top->status != SS_LOOKING && top->status != SS_CONTINUE)
        return skip_statement(st, stmt_text(cx, offset));
    Cell c;
    int32_t v;
    if (!expr_to_end(st, &c)) return 0;
    trace_value(st, &c);
    if (!switch_value(st, &c, &v)) return 0;
    case_decide(st, top, v);
    return 1;
}

int case_quick(State* st, LineEntry* e) {
    if (st->traceOn || st->err || st->pendingLineTooLong || st->pendingErr) return -2;
    StructEntry* top = struct_top(st);
    if (!top || top->kind != SK_SWITCH || (top->status != SS_LOOKING && top->status != SS_CONTINUE)) return -2;
    int32_t v;
    if (line_case_literal(st, e, &v) != 1) return -2;
    // The state the ordinary path leaves: the line read to its end, the
    // pending single-line If result reset.
    st->pendingIf = -1;
    st->traceWhy = 0;
    st->tokStart = st->prog = st->line + line_text_length(e);
    st->delimType = TK_EOL;
    case_decide(st, top, v);
    return 1;
}

namespace {

// Whether the line loop may apply cached line `e` without reading it: nothing
// watches lines, no error is pending, the line is neither rewritten by
// substitution nor cut.
bool line_applicable(const State* st, const LineEntry* e) {
    return !lines_watched(st) && !st->err && !st->pendingLineTooLong && !st->pendingErr && line_plain(e) &&
           !line_cut(e);
}

}  // namespace

bool case_known(State* st, LineEntry* e) {
    if (!line_applicable(st, e)) return false;
    StructEntry* top = struct_top(st);
    int32_t v;
    if (!top || top->kind != SK_SWITCH || top->status != SS_LOOKING || line_case_literal(st, e, &v) != 1 ||
        v != static_cast<int32_t>((top->resume << 16) | top->var))
        return false;
    st->pendingIf = -1;
    st->traceWhy = 0;
    case_decide(st, top, v);
    return true;
}

bool end_switch_known(State* st, LineEntry* e) {
    uint32_t code;
    if (!line_applicable(st, e) || !line_lone_keyword(st, e, &code) || (code != KW_ENDSWITCH && code != KW_ENDSELECT))
        return false;
    StructEntry* top = struct_top(st);
    if (!top || top->kind != SK_SWITCH) return false;
    // What reading the keyword leaves, as the line would read it.
    uint32_t n;
    const CachedToken* t = line_tokens(e, &n);
    const char* word = line_token_text(e, t[0]);
    const size_t len = strnlen(word, TOKEN_BUF - 1);
    memcpy(st->token, word, len);
    st->token[len] = 0;
    st->prevDelim = st->delimType;
    st->prevTok = st->tok;
    st->delimType = TK_KEYWORD;
    st->tok = code;
    st->tokSlot = SLOT_NONE;
    st->traceEvent = TE_VALUE;
    st->traceOutcome = 1;
    st->traceWhy = 0;
    st->pendingIf = -1;
    pop_loop(st);
    trace(st, TE_END, true);
    return true;
}

int do_endswitch(State* st, StmtCtx*, int) {
    if (!top_of(st, SK_SWITCH, SK_SWITCH, 3357)) return 0;
    pop_loop(st);
    trace(st, TE_END, true);
    return 1;
}

// ---- Break / Continue / End ----

namespace {

// While skipping, Break and Continue do nothing, not even the loop check: a
// line that does not run cannot fail.
int request(State* st, uint8_t bit, uint16_t errNoLoop, int32_t event) {
    if (is_skipping(st)) {
        trace(st, event, false);
        return 1;
    }
    if (!st->loopFlag) return fail(st, errNoLoop);
    struct_top(st)->status = bit;
    trace(st, event, true);
    return 1;
}

}  // namespace

int do_break(State* st, StmtCtx*, int) { return request(st, SS_BREAK, 3355, TE_BREAK); }
int do_continue(State* st, StmtCtx*, int) { return request(st, SS_CONTINUE, 3356, TE_CONTINUE); }

int do_end(State* st, StmtCtx* cx, int offset) {
    if (!get_token(st)) return 0;
    StmtHandler h = nullptr;
    if (st->delimType == TK_KEYWORD) {
        switch (st->tok) {
        case KW_IF:     h = do_endif; break;
        case KW_WHILE:  h = do_endwhile; break;
        case KW_SWITCH:
        case KW_SELECT: h = do_endswitch; break;
        case KW_FOR:    h = do_next; break;
        default: break;
        }
    }
    if (!h) return fail(st, 3363);
    return h(st, cx, offset);
}

}  // namespace ex
