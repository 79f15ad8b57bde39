// Error numbers, details, messages, the after-statement decision and reports.
#pragma once
#include "state.h"

enum : int { SEV_MODERATE = 0, SEV_MINOR = 1, SEV_FATAL = 13 };

inline void err_set(State* st, uint16_t n) { st->err = n; }
// Appends a detail text to the detail block (separator from the second on).
void err_detail(State* st, const char* text);
// Appends the message `id` formatted with printf arguments.
void err_detailf(State* st, uint32_t id, ...);
int  err_severity(uint32_t n);

// Message text of `id` (string table or language file), "~" and "|" translated.
const char* msg_text(State* st, uint32_t id, char* buf, int size);
extern "C" int LoadMyString(State* st, HMODULE module, uint32_t id, char* buf, int size);

// The decision after each statement. Returns 1 continue, 0 stop; may move *nextPos
// (handler labels) and push frames.
int err_after_statement(State* st, const char* lineText, uint32_t linePos, uint32_t* nextPos,
                        HGLOBAL buf);
// Reporting routine: 1 continue, 0 stop.
int err_report(State* st, HWND owner, uint32_t firstTextId, uint32_t errNum, int severity);
// "KEL Internal Error" box and error 1425.
void internal_error(State* st, const char* text);

#include "kel.h"   // KelReport, KelReportCallback: the console-host report hand-off
