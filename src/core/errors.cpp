// Error numbers: the severity a number carries, the number a report shows,
// and the detail block that collects explanations for the current error.
//
// A failing routine stores its number in st->err and may append details; the
// statement wrapper (report.cpp) shows or hands over the details and frees the
// block once the statement's error has been dealt with.
#include "errors.h"
#include <cstdio>
#include <cstring>

int err_severity(uint32_t n) {
    if (n >= 1 && n <= 2000) return SEV_MINOR;
    if (n >= 2001 && n <= 3000) return SEV_MODERATE;
    return SEV_FATAL;
}

uint32_t err_reported_number(State* st, uint32_t e) {
    switch (e) {
    case 1668: case 2669: case 3670:     // ErrorEvent
    case 1213: case 2214: case 3215:     // extender failures
    case 9013: case 9014: case 9016:
        return st->userCode;
    default:
        return e;
    }
}

// Goes between two details: two line feeds, 40 hyphens, a line feed, the byte
// 0xA0 and a line feed.
static const char kSeparator[] =
    "\n\n----------------------------------------\n\xA0\n";
static_assert(sizeof(kSeparator) - 1 == 2 + 40 + 1 + 1 + 1);

void err_detail(State* st, const char* text) {
    if (!st || !text) return;
    if (!st->detail) {
        st->detail = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, DETAIL_SIZE));
        if (!st->detail) return;          // details are a courtesy; the error stands
    }
    const size_t cap = DETAIL_SIZE - 1;   // 1024 characters and the terminator
    size_t used = strnlen(st->detail, cap);
    auto append = [&](const char* s) {
        size_t n = strlen(s);
        if (n > cap - used) n = cap - used;
        memcpy(st->detail + used, s, n);
        used += n;
        st->detail[used] = 0;
    };
    if (used) append(kSeparator);
    append(text);
}

void err_detail_args(State* st, uint32_t id, const MsgArg* args, int nargs) {
    char fmt[DETAIL_SIZE], text[DETAIL_SIZE];
    msg_text(st, id, fmt, sizeof fmt);
    msg_format(text, sizeof text, fmt, args, nargs);
    err_detail(st, text);
}

void err_detail_free(State* st) {
    if (st && st->detail) {
        HeapFree(GetProcessHeap(), 0, st->detail);
        st->detail = nullptr;
    }
}

void internal_error(State* st, const char* text) {
    core_box(st, text ? text : "", "KEL Internal Error", MB_OK | MB_ICONSTOP);
    if (st) st->err = 1425;
}
