// GoTo, GoSub and Return; the label search; jump markers.
//
// A label is a line ":name". The search reads the running buffer from its
// start (passing over function and command bodies) and continues at the line
// after the label line: a statement written after a label on the same line
// runs only when that line is reached in order. Once a GoTo or GoSub has found its label, its first five bytes in the
// buffer are overwritten by a jump marker (158 GoSub / 159 GoTo and the
// target in four 6-bit groups): the next time the statement runs it jumps
// without searching. The marker is written scrambled like all script text.
#include "exec_internal.h"
#include "value.h"
#include "eval.h"
#include "errors.h"
#include "loader.h"
#include "linecache.h"
#include <cstring>
#include <memory>
#include <new>

// ---- jump markers ----

void jump_marker_encode(uint8_t out[5], bool gosub, uint32_t pos) {
    out[0] = gosub ? JM_GOSUB : JM_GOTO;
    for (int k = 0; k < 4; ++k) out[1 + k] = static_cast<uint8_t>(64 + ((pos >> (18 - 6 * k)) & 63));
}

bool jump_marker_decode(const char* text, bool* gosub, uint32_t* pos) {
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    if (p[0] != JM_GOSUB && p[0] != JM_GOTO) return false;
    uint32_t v = 0;
    for (int k = 1; k <= 4; ++k) {
        if (p[k] < 64 || p[k] > 127) return false;
        v = (v << 6) | (p[k] - 64u);
    }
    *gosub = p[0] == JM_GOSUB;
    *pos = v;
    return true;
}

bool jump_marker_patch(State* st, HGLOBAL buf, uint32_t at, bool gosub, uint32_t target) {
    if (target > JM_MAXPOS) return false;
    GMemLock lock(buf);
    if (!lock || static_cast<SIZE_T>(at) + 5 >= GlobalSize(buf)) return false;
    uint8_t marker[5];
    jump_marker_encode(marker, gosub, target);
    uint8_t* mem = lock.get<uint8_t>();
    const uint32_t base = exec_key_base(st);
    for (uint32_t k = 0; k < 5; ++k) mem[at + k] = scr_enc(marker[k], base + at + k);
    lines_stale(st, buf);   // the line reads differently from now on
    return true;
}

// ---- label search ----

namespace {

// The text after ":" names `want` (upper case) and ends there.
bool label_matches(const char* line, const char* want, size_t n) {
    if (line[0] != ':') return false;
    const char* p = line + 1;
    for (size_t i = 0; i < n; ++i) {
        char c = p[i];
        if (!c) return false;
        CharUpperBuffA(&c, 1);
        if (c != want[i]) return false;
    }
    const char end = p[n];
    return end == 0 || end == ' ' || end == '\t' || end == ';';
}

constexpr uint32_t LABEL_LINE_MAX = 4096;   // how far back a label line is looked for

}  // namespace

// A statement beginning with byte 158 or 159 is not necessarily a marker:
// those bytes are letters in many code pages, and a damaged script may hold
// anything. A marker we wrote overwrote the first five bytes of "GoTo label"
// or "GoSub label", so the label's name still follows it, and its target is
// the line after that label's line. Anything else is ordinary script text.
bool jump_marker_genuine(State* st, const StmtCtx* cx, const char* text, bool* gosub, uint32_t* target) {
    if (cx->substituted || !jump_marker_decode(text, gosub, target)) return false;
    const char* p = text + 5;
    while (*p == ' ' || *p == '\t') ++p;
    char want[257];
    size_t n = 0;
    while (p[n] && p[n] != ' ' && p[n] != '\t' && p[n] != ';' && n < 256) {
        want[n] = p[n];
        ++n;
    }
    want[n] = 0;
    if (n == 0) return false;
    CharUpperBuffA(want, static_cast<DWORD>(n));

    GMemLock lock(cx->buf);
    if (!lock) return false;
    const uint8_t* mem = lock.get<uint8_t>();
    const size_t size = GlobalSize(cx->buf);
    const uint32_t base = exec_key_base(st);
    const uint32_t t = *target;
    if (t < 2 || t >= size) return false;
    uint8_t c = scr_dec(mem[t - 1], base + t - 1);
    if (c != '\n' && c != 26) return false;
    uint32_t start = t - 1;
    while (start > 0 && t - start < LABEL_LINE_MAX) {
        c = scr_dec(mem[start - 1], base + start - 1);
        if (c == '\n' || c == 26 || c == 0) break;
        --start;
    }
    char line[LABEL_LINE_MAX + 1];
    uint32_t len = 0;
    for (uint32_t i = start; i < t - 1; ++i) line[len++] = static_cast<char>(scr_dec(mem[i], base + i));
    line[len] = 0;
    const char* l = line;
    while (*l == ' ' || *l == '\t') ++l;
    return label_matches(l, want, n);
}

int label_search(State* st, const char* name, uint32_t* pos, uint32_t linePos, uint32_t stmtPos,
                 HGLOBAL buf, bool noPatch) {
    (void)linePos;
    char want[257];
    size_t n = strnlen(name, 256);
    memcpy(want, name, n);
    want[n] = 0;
    if (n) CharUpperBuffA(want, static_cast<DWORD>(n));

    GMemLock lock(buf);
    if (!lock) {
        st->err = 3032;
        return 0;
    }
    const uint8_t* mem = lock.get<uint8_t>();
    const size_t size = GlobalSize(buf);
    const uint32_t base = exec_key_base(st);
    std::unique_ptr<char[]> line(new (std::nothrow) char[LINE_BUF]);
    if (!line) {
        st->err = 1588;
        return 0;
    }
    const uint8_t pending = st->pendingLineTooLong;   // lines read here are not run
    bool inBody = false, found = false;
    uint32_t p = 0, target = 0;
    for (;;) {
        uint32_t textPos;
        if (read_line_mem(st, mem, size, &p, line.get(), &textPos, base) != 1) break;
        const int d = directive_of(line.get());
        if (d == DIR_DEFFUNC || d == DIR_DEFSUB || d == DIR_DEFCMD) inBody = true;
        else if (d >= DIR_ENDFUNC) inBody = false;
        else if (!inBody && label_matches(line.get(), want, n)) {
            found = true;
            target = p;   // the line after the label
            break;
        }
    }
    st->pendingLineTooLong = pending;
    if (!found) {
        st->err = 3033;
        return 0;
    }
    *pos = target;
    if (!noPatch) {
        // GoSub unless the statement's third letter is "t" (GoTo).
        char third = 0;
        if (static_cast<SIZE_T>(stmtPos) + 2 < size)
            third = static_cast<char>(scr_dec(mem[stmtPos + 2], base + stmtPos + 2));
        lock.release();
        jump_marker_patch(st, buf, stmtPos, third != 't' && third != 'T', target);
    }
    return 1;
}

namespace ex {

namespace {

// The label of a GoTo or GoSub: a bare word that ends the statement.
bool read_label(State* st, char* out, size_t size) {
    if (!get_string_token(st)) {
        err_detail_free(st);
        return fail(st, 3073), false;
    }
    snprintf(out, size, "%s", st->token);
    if (!get_token(st)) return false;
    if (!at_end(st)) return extra_tokens(st), false;
    return true;
}

// GoTo may not leave or enter a ForEach loop of the running function level.
bool in_foreach(State* st) {
    for (uint32_t i = st->stackCount; i-- > 0;) {
        if (st->stack[i].kind == SK_UDF) return false;
        if (st->stack[i].kind == SK_FOREACH) return true;
    }
    return false;
}

// Pushes a GoSub frame that Return will resume from at `resume`.
bool push_gosub(State* st, uint32_t resume, const StmtCtx* cx) {
    if (!struct_push(st, gosub_kind(st->pendingIf), SS_EXEC)) return false;
    StructEntry* e = struct_top(st);
    e->resume = resume;
    e->linePos = cx->linePos;
    e->caller = cx->buf;
    st->loopFlag = 0;
    st->pendingIf = -1;
    trace(st, TE_GOSUB, true);
    st->traceWhy = 0;
    return true;
}

}  // namespace

int do_marker(State* st, StmtCtx* cx, bool gosub, uint32_t target) {
    if (is_skipping(st)) return skip_statement(st, "");
    if (gosub) {
        if (!push_gosub(st, *cx->next, cx)) return 0;
    } else {
        st->pendingIf = -1;
        if (in_foreach(st)) return fail(st, 1725);
    }
    *cx->next = target;
    return 1;
}

int do_goto(State* st, StmtCtx* cx, int offset) {
    if (is_skipping(st)) return skip_statement(st, cx->line + offset);
    st->pendingIf = -1;
    if (in_foreach(st)) return fail(st, 1725);
    char label[257];
    if (!read_label(st, label, sizeof label)) return 0;
    uint32_t at = 0;
    const bool patch = stmt_position(cx, cx->line + offset, &at);
    return label_search(st, label, cx->next, cx->linePos, at, cx->buf, !patch);
}

int do_gosub(State* st, StmtCtx* cx, int offset) {
    if (is_skipping(st)) return skip_statement(st, cx->line + offset);
    char label[257];
    if (!read_label(st, label, sizeof label)) return 0;
    const int8_t pending = st->pendingIf;
    const uint8_t loop = st->loopFlag;
    if (!push_gosub(st, *cx->next, cx)) return 0;
    uint32_t at = 0;
    const bool patch = stmt_position(cx, cx->line + offset, &at);
    if (!label_search(st, label, cx->next, cx->linePos, at, cx->buf, !patch)) {
        struct_pop(st);
        st->loopFlag = loop;
        st->pendingIf = pending;
        return 0;
    }
    return 1;
}

int do_return(State* st, StmtCtx* cx, int offset) {
    if (is_skipping(st)) return skip_statement(st, cx->line + offset);
    Cell* result = cx->result;
    cell_release(st, result, CM_VARBOUND);
    cell_init(result);
    if (!get_token(st)) return 0;
    const bool hasValue = !at_end(st);
    if (hasValue) {
        if (!ProcessSubExpression(st, result, 0, 0, 0)) return 0;
        if (!at_end(st)) return extra_tokens(st);
        trace_value(st, result);
    }
    trace(st, TE_GOSUB, false);
    for (uint32_t i = st->stackCount; i-- > 0;) {
        StructEntry& e = st->stack[i];
        if (is_gosub(e.kind)) {
            if (hasValue) return fail(st, 1760);
            *cx->next = e.resume;
            st->loopFlag = e.savedLoop;
            st->pendingIf = e.kind == SK_GOSUB_TRUE ? 1 : e.kind == SK_GOSUB_FALSE ? 0 : -1;
            struct_unwind(st, i);
            return 1;
        }
        if (e.kind == SK_UDF || e.kind == SK_CALL) {
            st->pendingIf = -1;
            struct_unwind(st, i);
            e.var = 1;   // returned: the result cell carries the value
            return -1;
        }
    }
    st->pendingIf = -1;
    return -1;   // Return at the top of the main script ends it
}

}  // namespace ex
