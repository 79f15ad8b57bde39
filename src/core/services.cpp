// DLLServices: the numbered requests through which hosts and extenders read
// and change the interpreter state from outside (and from inside their own
// entries, while a script runs).
//
// Each request runs with the state's error number cleared; afterwards the
// previous error number is put back, except for request 13 whose purpose is to
// set it. A request that fails answers 0. Requests not listed are refused
// with 0. See docs/host-interface.md for the meaning of each argument.
#include "diag/trace.h"
#include "errors.h"
#include "eval.h"
#include "heap.h"
#include "kel.h"
#include "loader.h"
#include "value.h"
#include "interop/binary/binbuf.h"
#include <cstring>

namespace {

// Parses "name" or "name[i, j, ...]" (integer subscripts) into a reference to
// a variable of the current scope. False for anything else.
bool parse_var_ref(State* st, const char* text, VarRef* ref) {
    *ref = VarRef{};
    ref->level = st->level;
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    size_t n = 0;
    while (*p && *p != '[' && *p != ' ' && *p != '\t') {
        if (n >= VARNAMESIZE) return false;
        ref->name[n++] = static_cast<char>(tolower(static_cast<unsigned char>(*p++)));
    }
    if (n == 0) return false;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '[') {
        ++p;
        for (;;) {
            if (ref->nsubs == 5) return false;
            char* end;
            long long v = strtoll(p, &end, 10);
            if (end == p) return false;
            ref->subs[ref->nsubs++] = v;
            p = end;
            while (*p == ' ' || *p == '\t') ++p;
            if (*p == ',') { ++p; continue; }
            if (*p == ']') { ++p; break; }
            return false;
        }
        while (*p == ' ' || *p == '\t') ++p;
    }
    return *p == 0;
}

bool assign_text(State* st, const char* name, const char* text) {
    VarRef ref;
    if (!name || !parse_var_ref(st, name, &ref)) return false;
    Cell c;
    cell_init(&c, 0);
    bool ok = cell_set_str(st, &c, text ? text : "", text ? strlen(text) : 0) && ref_store(st, &ref, &c);
    cell_release(st, &c, CM_BARE);
    return ok;
}

int64_t read_text(State* st, const char* name, char* out, int64_t size) {
    VarRef ref;
    if (!name || !out || size <= 0 || !parse_var_ref(st, name, &ref)) return 0;
    Cell c;
    if (!ref_fetch(st, &ref, &c)) return 0;
    bool ok = conv_to_ansi(st, &c);
    if (ok) snprintf(out, static_cast<size_t>(size), "%s", cell_str(st, &c));
    cell_release(st, &c, CM_VARBOUND);
    return ok ? 1 : 0;
}

void copy_text(char* dst, size_t size, const void* src) {
    snprintf(dst, size, "%s", src ? static_cast<const char*>(src) : "");
}

int64_t heap_copy(State* st, const void* p1, const void* p2) {
    if (p1) {
        const char* s = static_cast<const char*>(p1);
        return static_cast<int64_t>(heap_strdup(st, s, strlen(s)));
    }
    if (p2) {
        const wchar_t* w = static_cast<const wchar_t*>(p2);
        return static_cast<int64_t>(heap_wstrdup(st, w, wcslen(w)));
    }
    return 0;
}

int64_t perform(State* st, int request, void* p1, void* p2, int64_t n, int64_t n2) {
    int64_t old;
    switch (request) {
    case 0:                                            // host identification texts
        copy_text(st->hostId1, sizeof st->hostId1, p1);
        copy_text(st->hostId2, sizeof st->hostId2, p2);
        return 1;
    case 1:                                            // variable = 8-bit text
        return assign_text(st, static_cast<const char*>(p1), static_cast<const char*>(p2)) ? 1 : 0;
    case 2:                                            // variable as text into a buffer
        return read_text(st, static_cast<const char*>(p1), static_cast<char*>(p2), n);
    case 3:                                            // replace the notification word
        old = st->hostNotify;
        st->hostNotify = static_cast<uint32_t>(n);
        return old;
    case 4:  return st->runErr;                        // how the last run ended
    case 5:  return static_cast<int32_t>(st->lastResult);
    case 6:  return st->lastPos;
    case 7:                                            // stop the running script
        st->stopRequest = 1;
        st->stopShowMsg = n != 0;
        return 1;
    case 11:                                           // param0..paramN
        return split_params(st, static_cast<const char*>(p1), p1 ? nullptr : static_cast<const wchar_t*>(p2)) ? 1 : 0;
    case 13:                                           // set the error number
        st->err = static_cast<uint16_t>(n & 0xFFFF);
        return 1;
    case 23:                                           // no-dialog switch and message log
        old = st->noDialogs;
        if (n != -1) st->noDialogs = n != 0;
        if (p1) copy_text(st->msgLog, sizeof st->msgLog, p1);
        return old;
    case 24:                                           // console report hand-off
        st->reportCb = p1;
        st->reportCtx = p2;
        return 1;
    case 25:                                           // the trace from the first line of each run
        return trace_host_request(st, static_cast<const char*>(p1), static_cast<const wchar_t*>(p2), n, n2);
    case 30:                                           // error-report save option and path
        old = st->saveReport;
        if (n != -1) st->saveReport = n != 0;
        if (p1) copy_text(st->savePath, sizeof st->savePath, p1);
        return old;
    case 33:                                           // UncompressBuffer(p1, n compressed, n2 size)
        return UncompressBuffer(p1, static_cast<uint32_t>(n), static_cast<uint32_t>(n2));
    case 39:                                           // option bits
        old = st->options;
        if (n != -1) st->options = static_cast<uint32_t>(n);
        return old;
    case 40:                                           // current file name
        copy_text(st->curFile, sizeof st->curFile, p1);
        copy_text(st->mainFile, sizeof st->mainFile, p1);
        return 1;
    case 41:                                           // string handle -> address
        return (st->heapBase && n > 0 && static_cast<uint64_t>(n) < st->heapCommitted)
                   ? reinterpret_cast<int64_t>(heap_ptr(st, static_cast<uint64_t>(n)))
                   : 0;
    case 42:                                           // text -> string handle
        return st->heapBase ? heap_copy(st, p1, p2) : 0;
    case 47:                                           // detail of the current error
        if (!p1) return 0;
        err_detail(st, static_cast<const char*>(p1));
        return 1;
    case 48:
        return reinterpret_cast<int64_t>(st->hostWnd);
    case 60:                                           // set or clear notification bits
        old = st->hostNotify;
        if (n2) st->hostNotify |= static_cast<uint32_t>(n);
        else st->hostNotify &= ~static_cast<uint32_t>(n);
        return old;
    default:
        return 0;
    }
}

}  // namespace

extern "C" int64_t DLLServices(HGLOBAL state, int request, void* p1, void* p2, int64_t n, int64_t n2) {
    GMemLock lock(state);
    if (!lock) return 0;
    State* st = lock.get<State>();
    st->selfHandle = state;
    uint16_t before = st->err;
    st->err = 0;
    int64_t r = perform(st, request, p1, p2, n, n2);
    if (request == 13) return r;
    if (st->err) r = 0;
    st->err = before;
    return r;
}
