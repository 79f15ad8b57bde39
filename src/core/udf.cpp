// User-defined functions, subroutines and commands: their definition
// directives, their records and their calls.
//
// A #DefineFunction / #DefineSubroutine / #DefineCommand line opens a
// definition; the lines up to the next #End... line are its body, copied
// still scrambled into a block of its own when the #End line is read (byte i
// of the copy keeps the key of position start + i of the defining buffer).
// Records are allocated in blocks of 16, at most 512. The name becomes
// callable (token id 4000 + record number) once its #End line is read.
//
// A call pushes a frame on the structure stack, gives a function a fresh
// variable table (a subroutine or command shares the caller's), assigns the
// arguments to the parameters by position and runs the body with the line
// loop. Handlers, trace and debugger settings of the caller do not carry
// into the body. An error inside the body has been reported there: the caller
// sees control code 9015.
#include "exec_internal.h"
#include "textscan.h"
#include "value.h"
#include "errors.h"
#include "loader.h"
#include "dispatch.h"
#include <cstring>
#include <cstdio>
#include <new>
#include <string>

namespace {

const char* const kDirectives[6] = {"#definefunction", "#definesubroutine", "#definecommand",
                                    "#endfunction",    "#endsubroutine",    "#endcommand"};
const uint16_t kNested[3] = {3623, 3691, 3230};      // a #Define inside a definition
const uint16_t kSyntax[3] = {3624, 3692, 3251};      // bad header
const uint16_t kUnmatched[3] = {3625, 3693, 3403};   // #End without #Define

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Copies a name of at most 30 characters ending at one of `stops` (or the
// end of the text), lower-cased. False when it is empty or longer.
bool read_name(const char*& p, const char* stops, char* out) {
    size_t n = 0;
    while (*p && !strchr(stops, *p)) {
        if (n == VARNAMESIZE) return false;
        out[n++] = *p++;
    }
    out[n] = 0;
    if (n) CharLowerBuffA(out, static_cast<DWORD>(n));
    return n > 0;
}

// The parameter list of a function or subroutine: "(a, b)" then only a comment.
bool function_params(const char* p, UdfRecord* out) {
    while (is_blank(*p)) ++p;
    if (*p++ != '(') return false;
    while (is_blank(*p)) ++p;
    if (*p == ')') {
        ++p;
    } else {
        for (;;) {
            while (is_blank(*p)) ++p;
            if (out->params == 16) return false;
            if (!read_name(p, " \t,)", out->paramNames[out->params])) return false;
            out->params++;
            while (is_blank(*p)) ++p;
            if (*p == ',') {
                ++p;
                continue;
            }
            if (*p++ != ')') return false;
            break;
        }
    }
    while (is_blank(*p)) ++p;
    return *p == 0 || *p == ';';
}

// The parameters of a command: names separated by blanks, then a comment.
bool command_params(const char* p, UdfRecord* out) {
    for (;;) {
        while (is_blank(*p)) ++p;
        if (*p == 0 || *p == ';') return true;
        if (out->params == 16) return false;
        if (!read_name(p, " \t;", out->paramNames[out->params])) return false;
        out->params++;
    }
}

// The record slot `index`, allocating its block of 16 when needed.
UdfRecord* record_slot(State* st, uint32_t index) {
    UdfRecord*& block = st->udfBlocks[index / UDF_BLOCK];
    if (!block) block = static_cast<UdfRecord*>(GlobalAlloc(GPTR, UDF_BLOCK * sizeof(UdfRecord)));
    return block ? &block[index % UDF_BLOCK] : nullptr;
}

// The local variable table for a call that will run at the next scope level.
// Tables are kept per level and reused: a fresh one would be hundreds of
// kilobytes to allocate and clear on every call, and a used one needs no
// clearing (a new scope counts its slots in use from 1, and a slot is
// initialised when a variable takes it).
// A kept table stays locked until it is freed: a call costs no lock.
HGLOBAL local_table(State* st, uint16_t slots, VarSlot** vars) {
    const uint32_t level = st->level + 1u;
    if (level >= MAX_SCOPES) return nullptr;
    HGLOBAL& t = st->udfTables[level];
    VarSlot*& v = st->udfTableVars[level];
    const SIZE_T bytes = static_cast<SIZE_T>(slots) * sizeof(VarSlot);
    uint32_t& size = st->udfTableBytes[level];
    if (t && (!v || size < bytes)) {
        if (v) GlobalUnlock(t);
        GlobalFree(t);
        t = nullptr;
        v = nullptr;
    }
    if (!t) {
        t = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
        v = t ? static_cast<VarSlot*>(GlobalLock(t)) : nullptr;
        size = t ? static_cast<uint32_t>(GlobalSize(t)) : 0;
    }
    *vars = v;
    return t;
}

// What a call changes and gives back afterwards.
struct CallerState {
    uint8_t  traceOn, debugOut, inUdf, loopFlag, inExecute;
    int8_t   pendingIf;
    int32_t  cancelMode, errHandlerMode;
    char     cancelFunc[31], errFunc[31];
    uint16_t curUdf;
    char     curFile[MAX_PATH];

    void save(const State* st) {
        traceOn = st->traceOn;
        debugOut = st->debugOut;
        inUdf = st->inUdf;
        loopFlag = st->loopFlag;
        inExecute = st->inExecute;
        pendingIf = st->pendingIf;
        cancelMode = st->cancelMode;
        errHandlerMode = st->errHandlerMode;
        memcpy(cancelFunc, st->cancelFunc, sizeof cancelFunc);
        memcpy(errFunc, st->errFunc, sizeof errFunc);
        curUdf = st->curUdf;
        text_copy_z(curFile, st->curFile, sizeof curFile);
    }
    void restore(State* st) const {
        st->traceOn = traceOn;
        st->debugOut = debugOut;
        st->inUdf = inUdf;
        st->loopFlag = loopFlag;
        st->inExecute = inExecute;
        st->pendingIf = pendingIf;
        st->cancelMode = cancelMode;
        st->errHandlerMode = errHandlerMode;
        memcpy(st->cancelFunc, cancelFunc, sizeof cancelFunc);
        memcpy(st->errFunc, errFunc, sizeof errFunc);
        st->curUdf = curUdf;
        text_copy_z(st->curFile, curFile, sizeof curFile);
    }
};

void trace_call(State* st, bool tracing, const UdfRecord* rec, bool entering, int kind) {
    st->traceEvent = TE_UDF;
    st->traceOutcome = entering ? 1 : 0;
    st->traceWhy = kind;
    if (tracing && g_traceWriter) g_traceWriter(st, TRACE_EVENT, rec->name, nullptr);
}

// A value handed back from a body must not depend on the body's variables:
// a variant read from a local is shared with it until copied here.
void detach_result(State* st, Cell* result) {
    (void)st;
    if ((result->type & TW_VARIANT) && result->slot != SLOT_NONE) {
        VARIANT v;
        VariantInit(&v);
        if (FAILED(VariantCopy(&v, &result->var))) VariantInit(&v);
        result->var = v;
    }
    result->slot = SLOT_NONE;
    result->level = LEVEL_NONE;
}

}  // namespace

int directive_of(const char* line) {
    if (line[0] != '#') return -1;
    for (int d = 0; d < 6; ++d) {
        const size_t n = strlen(kDirectives[d]);
        if (_strnicmp(line, kDirectives[d], n) != 0) continue;
        const unsigned char c = static_cast<unsigned char>(line[n]);
        if (!isalnum(c) && c != '_' && c != '@') return d;
    }
    return -1;
}

UdfRecord* udf_record(State* st, uint32_t index) {
    if (index >= MAX_UDF) return nullptr;
    UdfRecord* block = st->udfBlocks[index / UDF_BLOCK];
    return block ? &block[index % UDF_BLOCK] : nullptr;
}

int udf_find(State* st, const char* lname) {
    for (uint32_t i = 0; i < st->udfCount; ++i) {
        const UdfRecord* r = udf_record(st, i);
        if (r && _stricmp(r->name, lname) == 0) return static_cast<int>(i);
    }
    return -1;
}

uint32_t exec_key_base(State* st) {
    if (st->inUdf && st->curUdf < st->udfCount) {
        const UdfRecord* r = udf_record(st, st->curUdf);
        if (r && r->body == st->curBuffer) return r->start;
    }
    return 0;
}

int udf_parse_header(State* st, const char* text, bool command, UdfRecord* out) {
    memset(out, 0, sizeof *out);
    const char* p = text;
    while (is_blank(*p)) ++p;
    if (!read_name(p, command ? " \t;" : " \t(", out->name)) return -1;
    out->nameLen = static_cast<uint16_t>(strlen(out->name));
    if (udf_find(st, out->name) >= 0) return 1;   // redefinition: the first one stays
    if (!(command ? command_params(p, out) : function_params(p, out))) return -1;
    out->distinctParams = true;
    for (int i = 0; i < out->params; ++i)
        for (int k = 0; k < i; ++k)
            if (strcmp(out->paramNames[i], out->paramNames[k]) == 0) out->distinctParams = false;
    return 0;
}

int udf_define(State* st, const char* line, int directive, uint32_t nextPos) {
    // A refused definition opens nothing: should a handler resume after it,
    // the lines that follow are ordinary lines.
    if (st->inDefinition) return ex::fail(st, kNested[directive]);
    if (st->udfCount >= MAX_UDF) return ex::fail(st, 3626);
    UdfRecord* slot = record_slot(st, st->udfCount);
    if (!slot) return ex::fail(st, 1733);
    UdfRecord rec;
    const int r = udf_parse_header(st, line + strlen(kDirectives[directive]), directive == DIR_DEFCMD, &rec);
    if (r < 0) return ex::fail(st, kSyntax[directive]);
    if (r > 0) {   // already defined: the new body is passed over
        st->inDefinition = 2;
        return 1;
    }
    rec.cls = directive == DIR_DEFCMD ? KC_UDCOMMAND : KC_FUNCTION;
    rec.kind = directive == DIR_DEFFUNC ? 0 : 1;
    rec.start = nextPos;
    rec.lineInfo = -1;
    snprintf(rec.file, sizeof rec.file, "%s", st->curFile);
    *slot = rec;
    st->inDefinition = 1;
    return 1;
}

int udf_end(State* st, int directive, HGLOBAL buf, uint32_t linePos) {
    if (!st->inDefinition) return ex::fail(st, kUnmatched[directive - DIR_ENDFUNC]);
    const bool keep = st->inDefinition == 1;
    st->inDefinition = 0;
    if (!keep) return 1;
    UdfRecord* rec = udf_record(st, st->udfCount);
    const uint32_t len = linePos > rec->start ? linePos - rec->start : 0;
    GMemLock src(buf);
    HGLOBAL body = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(len) + 1);
    GMemLock dst(body);
    if (!src || !dst || GlobalSize(buf) < static_cast<SIZE_T>(rec->start) + len) {
        dst.release();
        if (body) GlobalFree(body);
        return ex::fail(st, 1733);
    }
    // Copied as it is: keys follow positions, and a buffer that defines
    // functions runs with key base 0.
    uint8_t* out = dst.get<uint8_t>();
    memcpy(out, src.get<uint8_t>() + rec->start, len);
    out[len] = scr_enc(0, rec->start + len);
    rec->body = body;
    rec->length = len;
    st->udfCount++;
    return 1;
}

void udf_free_all(State* st) {
    for (uint32_t b = 0; b < MAX_UDF / UDF_BLOCK; ++b) {
        UdfRecord* block = st->udfBlocks[b];
        if (!block) continue;
        for (uint32_t i = 0; i < UDF_BLOCK; ++i)
            if (block[i].body) GlobalFree(block[i].body);
        GlobalFree(block);
        st->udfBlocks[b] = nullptr;
    }
    st->udfCount = 0;
    st->inDefinition = 0;
    for (uint32_t level = 0; level < MAX_SCOPES; ++level) {
        HGLOBAL& t = st->udfTables[level];
        if (t && st->udfTableVars[level]) GlobalUnlock(t);
        if (t) GlobalFree(t);
        t = nullptr;
        st->udfTableVars[level] = nullptr;
    }
}

int udf_call(State* st, uint32_t id, Cell* result, Cell* args, int nargs, NativeUdfCb cb, void* ctx, int kind) {
    const uint32_t index = id - UDFSTART;
    UdfRecord* rec = id >= UDFSTART && index < st->udfCount ? udf_record(st, index) : nullptr;
    if (!rec || (!rec->body && !cb)) return ex::fail(st, 3627);

    // A handler that could not run its body would pass for one whose error
    // was reported inside: it fails to start instead, unreported, so that
    // the memory error is reported in place of the error it was to handle.
    if (kind >= 2 && !cb && !running_context_ready(st)) return ex::fail(st, 1672);
    const uint32_t before = st->stackCount;
    if (!struct_push(st, SK_UDF, SS_EXEC)) return 0;
    if (kind >= 2) {   // handlers and COM events come from no line of the caller
        StructEntry* frame = struct_top(st);
        frame->linePos = 0;
        frame->caller = nullptr;
        frame->script = 65535;
        frame->inUdf = 0;
    }
    CallerState saved;
    saved.save(st);
    st->loopFlag = 0;

    HGLOBAL table = nullptr;
    if (rec->kind == 0) {   // a function has variables of its own
        const uint16_t slots = st->frames[0].slots ? st->frames[0].slots : st->varSlots;
        VarSlot* vars = nullptr;
        table = local_table(st, slots, &vars);
        const uint16_t err = !table ? 1672 : !scope_push_locked(st, table, vars, slots, false) ? 3673 : 0;
        if (err) {
            saved.restore(st);
            struct_unwind(st, before);
            return ex::fail(st, err);
        }
    }

    const bool sameText = text_equal_in(st->curFile, rec->file, sizeof rec->file);
    const bool fileChanged = !sameText && _stricmp(st->curFile, rec->file) != 0;
    if (!sameText) snprintf(st->curFile, sizeof st->curFile, "%s", rec->file);
    if (fileChanged && (st->hostNotify & HN_FILECHANGE)) host_notify(st, -5, st->curFile, 0);
    trace_call(st, saved.traceOn, rec, true, kind);
    st->traceOn = 0;
    st->debugOut = 0;
    st->errHandlerMode = 0;
    st->cancelMode = -1;   // inside a function only a CANCEL label of its own counts
    st->pendingIf = -1;
    st->inUdf = 1;
    st->curUdf = static_cast<uint16_t>(index);
    st->udfNesting++;
    Cell* outerArgs = rec->args;
    rec->args = args;

    int rc = 1;
    const int n = nargs < rec->params ? nargs : rec->params;
    // A function's table was just entered: distinct parameters cannot exist
    // in it yet, so each takes the next slot without a lookup.
    const bool fresh = table && rec->distinctParams && st->varUsed == 1;
    for (int i = 0; i < n && rc; ++i) {
        const uint16_t slot = fresh ? var_create_new(st, rec->paramNames[i], TW_UNINIT)
                                    : var_create(st, rec->paramNames[i], TW_UNINIT);
        if (slot == SLOT_NONE || !var_assign(st, slot, &args[i + 1])) rc = 0;
    }
    const bool bodyRuns = rc != 0;   // a parameter that could not be stored is the caller's error
    cell_release(st, result, CM_VARBOUND);
    cell_init(result);
    if (rc) {
        if (cb) {
            rc = cb(st, result, args, nargs, ctx) ? -1 : 0;
        } else {
            uint32_t pos = 0;
            rc = line_loop(st, result, rec->body, &pos, saved.curUdf == 65535 ? nullptr : st->curBuffer);
        }
    }
    if (st->traceOn && g_traceWriter) g_traceWriter(st, TRACE_UDF_LEFT, rec->name, nullptr);
    detach_result(st, result);
    if (table) scope_pop(st);   // the table stays with its level for the next call
    if (rc != -1) {   // no Return: the result is 0
        cell_release(st, result, CM_BARE);
        cell_init(result);
    }
    rec->args = outerArgs;
    st->udfNesting--;
    saved.restore(st);
    struct_unwind(st, before);
    trace_call(st, st->traceOn, rec, false, kind);
    if (rc == 0) {
        const uint16_t e = st->err;
        if (bodyRuns && e && e != 9000 && e != 9999) st->err = 9015;   // reported inside already
        return 0;
    }
    return 1;
}

int udf_command(State* st, uint32_t id, const char* rest, Cell* result) {
    const uint32_t index = id - UDFSTART;
    const UdfRecord* rec = index < st->udfCount ? udf_record(st, index) : nullptr;
    if (!rec) return ex::fail(st, 3627);
    // The words of the rest of the line, up to a comment outside quotes.
    std::vector<std::string> words;
    try {
        std::string text;
        char quote = 0;
        for (const char* p = rest; *p; ++p) {
            if (quote) {
                if (*p == quote) quote = 0;
            } else if (*p == ';') {
                break;
            } else if (*p == '"' || *p == '\'' || *p == '`') {
                quote = *p;
            }
            text += *p;
        }
        words = param_words(text.c_str());
    } catch (const std::bad_alloc&) {
        return ex::fail(st, 1588);
    }
    if (words.size() > rec->params) return ex::fail(st, 3066);
    Cell args[17];
    cell_init(&args[0]);
    int made = 0;
    bool ok = true;
    for (int i = 0; i < rec->params && ok; ++i) {
        cell_init(&args[i + 1]);
        made++;
        const char* w = i < static_cast<int>(words.size()) ? words[i].c_str() : "";
        ok = cell_set_str(st, &args[i + 1], w, strlen(w));
    }
    if (ok) ok = udf_call(st, id, result, args, rec->params, nullptr, nullptr, 0) != 0;
    for (int i = 1; i <= made; ++i) cell_release(st, &args[i], CM_BARE);
    return ok ? 1 : 0;
}
