// The predefined error variables: what a handler (or a script running under
// @OFF) can learn about the error it took. They are set in the current scope:
// a handler label runs in the scope of the failing statement, a handler
// function receives cxerrorarray as its argument.
#include "errors.h"
#include "exec.h"
#include "loader.h"
#include "value.h"
#include <cctype>
#include <cstdio>
#include <cstring>

bool err_source_location(State* st, HGLOBAL buf, uint32_t pos, char* file, size_t fileSize, uint32_t* line) {
    uint32_t keyBase = 0;
    for (uint32_t i = 0; i < st->udfCount; ++i) {
        const UdfRecord* rec = udf_record(st, i);
        if (rec && rec->body == buf) {
            keyBase = rec->start;
            break;
        }
    }
    return source_location(st, buf, pos, file, fileSize, line, keyBase);
}

void err_context(State* st, ErrContext* cx) {
    cx->line    = st->reportLine ? st->reportLine : st->line;
    cx->buf     = st->reportLine ? st->reportBuf : st->curBuffer;
    cx->linePos = st->reportLine ? st->reportLinePos : st->curLinePos;
    cx->nextPos = st->reportLine ? st->reportNextPos : st->nextPos;
    cx->stmtPos = st->curStmtPos;
    cx->file[0] = 0;
    cx->lineNo  = 0;
    cx->exact   = cx->buf && err_source_location(st, cx->buf, cx->linePos, cx->file, sizeof cx->file, &cx->lineNo);
    if (!cx->exact) cx->lineNo = 0;
    if (!cx->file[0]) snprintf(cx->file, sizeof cx->file, "%s", st->curFile);   // no marker seen
    const UdfRecord* rec = st->curUdf != 65535 ? udf_record(st, st->curUdf) : nullptr;
    cx->udfName = rec ? rec->name : "";
}

namespace {

bool is_name_char(char c) {
    return isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// The variable a statement assigns to ("x = ...", "a[i] += ...", "*p = ..."),
// as written and at most 30 characters; "" for any other statement.
void assignment_target(const char* s, char* out) {
    out[0] = 0;
    while (*s == ' ' || *s == '\t') ++s;
    if (*s == '*') ++s;
    const char* name = s;
    if (!isalpha(static_cast<unsigned char>(*s)) && *s != '_') return;
    while (is_name_char(*s)) ++s;
    size_t len = static_cast<size_t>(s - name);
    while (*s == ' ' || *s == '\t') ++s;
    if (*s == '[') {                       // subscripts, quotes respected
        int depth = 0;
        char quote = 0;
        for (; *s; ++s) {
            if (quote) { if (*s == quote) quote = 0; continue; }
            if (*s == '"' || *s == '\'' || *s == '`') quote = *s;
            else if (*s == '[') ++depth;
            else if (*s == ']' && --depth == 0) { ++s; break; }
        }
        while (*s == ' ' || *s == '\t') ++s;
    }
    static const char* const kOps[] = { "<<=", ">>=", "**=", "mod=", "+=", "-=", "*=", "/=",
                                        ":=", "&=", "|=", "^=" };
    bool assigns = s[0] == '=' && s[1] != '=';
    for (const char* op : kOps)
        if (!assigns && _strnicmp(s, op, strlen(op)) == 0) assigns = true;
    if (!assigns) return;
    if (len > VARNAMESIZE) len = VARNAMESIZE;
    memcpy(out, name, len);
    out[len] = 0;
}

struct ErrInfo {
    uint32_t    number;
    const char* line;
    uint32_t    offset;
    char        assign[VARNAMESIZE + 1];
    const char* file;
    char        text[1100];
    const char* info;
    const char* func;
    uint32_t    lineNo;
    uint32_t    pos9, pos10;
};

void collect(State* st, uint32_t e, const ErrContext& cx, ErrInfo* in) {
    const bool cancel = e == 9999;
    in->number = cancel ? 9999 : err_reported_number(st, e);
    in->line   = cx.line;
    in->offset = cx.linePos;
    assignment_target(cx.line, in->assign);
    in->file   = cx.file;
    if (cancel)
        snprintf(in->text, sizeof in->text, "Cancel");
    else if (in->number != e)              // user-defined and extender errors
        snprintf(in->text, sizeof in->text, "%s", st->userText);
    else
        msg_text(st, e, in->text, sizeof in->text);
    in->info   = cancel ? "User pressed Cancel" : (st->detail ? st->detail : "");
    in->func   = cx.udfName;
    in->lineNo = cx.lineNo;
    in->pos9   = cx.stmtPos;               // where the statement starts
    in->pos10  = cx.nextPos;               // where the next line starts
}

bool set_str(State* st, const char* name, const char* value) {
    uint16_t slot = var_create(st, name, TW_UNINIT);
    if (slot == SLOT_NONE) return false;
    Cell c;
    cell_init(&c);
    bool ok = cell_set_str(st, &c, value, strlen(value)) && var_assign(st, slot, &c);
    cell_release(st, &c, CM_BARE);
    return ok;
}

bool set_int(State* st, const char* name, int32_t value) {
    uint16_t slot = var_create(st, name, TW_UNINIT);
    if (slot == SLOT_NONE) return false;
    Cell c;
    cell_init(&c, value);
    return var_assign(st, slot, &c);
}

// Element i of a fresh array takes over the value of `c` (its string handle
// now belongs to the array).
void put_elem(ArrayHdr* a, uint32_t i, const Cell& c) {
    memcpy(arr_elem(a, i), &c, ELEMENT_SIZE);
}

bool put_str(State* st, ArrayHdr* a, uint32_t i, const char* s) {
    Cell c;
    cell_init(&c);
    if (!cell_set_str(st, &c, s, strlen(s))) return false;
    put_elem(a, i, c);
    return true;
}

void put_int(ArrayHdr* a, uint32_t i, int32_t v) {
    Cell c;
    cell_init(&c, v);
    put_elem(a, i, c);
}

bool build_array(State* st, const ErrInfo& in, Cell* arr) {
    cell_init(arr);
    if (CreateMyArray(st, arr, 12, 0, 0, 0, 0, 0, 1) != 1) return false;
    ArrayHdr* a = arr->arr;
    put_int(a, 0, static_cast<int32_t>(in.number));
    bool ok = put_str(st, a, 1, in.line);
    put_int(a, 2, static_cast<int32_t>(in.offset));
    ok = ok && put_str(st, a, 3, in.assign) && put_str(st, a, 4, in.file) &&
         put_str(st, a, 5, in.text) && put_str(st, a, 6, in.info) && put_str(st, a, 7, in.func);
    put_int(a, 8, static_cast<int32_t>(in.lineNo));
    put_int(a, 9, static_cast<int32_t>(in.pos9));
    put_int(a, 10, static_cast<int32_t>(in.pos10));
    put_int(a, 11, 0);
    if (!ok) cell_release(st, arr, CM_BARE);
    return ok;
}

} // namespace

bool err_set_vars(State* st, uint32_t e, bool arrayOnly, Cell* arrayOut) {
    uint16_t savedErr = st->err;
    ErrContext cx;
    err_context(st, &cx);
    ErrInfo in;
    collect(st, e, cx, &in);

    bool ok = true;
    if (!arrayOnly) {
        ok = set_str(st, "cxerrorhandlerline", in.line) &&
             set_int(st, "cxerrorhandleroffset", static_cast<int32_t>(in.offset)) &&
             set_str(st, "cxerrorhandlerassignment", in.assign) &&
             set_str(st, "cxerrorhandlerfile", in.file) &&
             set_str(st, "cxerrortextstring", in.text) &&
             set_str(st, "cxerroradditionalinfo", in.info) &&
             set_str(st, "cxerrorinsegment", in.func) &&
             set_int(st, "cxerrorhandlerlinenumber", static_cast<int32_t>(in.lineNo));
    }
    Cell arr;
    if (ok && build_array(st, in, &arr)) {
        uint16_t slot = var_create(st, "cxerrorarray", TW_UNINIT);
        ok = slot != SLOT_NONE && var_assign(st, slot, &arr);
        if (ok && arrayOut) *arrayOut = arr;          // our reference goes to the caller
        else cell_release(st, &arr, CM_BARE);
    } else {
        ok = false;
    }
    // A failed store leaves the number of what could not be had (3096 a
    // string, 1631 the array, 3097 a variable); otherwise the error stands.
    if (!ok && (st->err == savedErr || !st->err)) st->err = 3096;
    if (ok) st->err = savedErr;
    return ok;
}
