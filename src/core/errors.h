// Error numbers, details, messages, the after-statement decision and reports.
#pragma once
#include "state.h"

enum : int { SEV_MODERATE = 0, SEV_MINOR = 1, SEV_FATAL = 13 };
enum : int { EM_OFF = 0, EM_CANCEL = 1, EM_NOTIFY = 2 };   // ErrorMode values

inline void err_set(State* st, uint16_t n) { st->err = n; }
// Appends a detail text to the detail block (separator from the second on).
void err_detail(State* st, const char* text);
// Message texts can come from a language file, so they are never handed to
// printf as formats. msg_format substitutes the arguments itself: each
// conversion (%d %i %u %ld %x %X %c for numbers, %s for texts, with flags,
// a width and a precision of up to two digits each) takes the next argument
// if it has the right kind; any other conversion, or one left without an
// argument, is copied as it stands; "%%" is "%".
struct MsgArg {
    bool        isText;
    long long   n;
    const char* s;
    MsgArg(long long v) : isText(false), n(v), s(nullptr) {}
    MsgArg(int v) : MsgArg(static_cast<long long>(v)) {}
    MsgArg(long v) : MsgArg(static_cast<long long>(v)) {}
    MsgArg(unsigned v) : MsgArg(static_cast<long long>(v)) {}
    MsgArg(unsigned long v) : MsgArg(static_cast<long long>(v)) {}
    MsgArg(const char* v) : isText(true), n(0), s(v ? v : "") {}
};
void msg_format(char* out, size_t size, const char* fmt, const MsgArg* args, int nargs);
// Appends the message `id` with its conversions filled from `args`.
void err_detail_args(State* st, uint32_t id, const MsgArg* args, int nargs);
template <class... A>
void err_detailf(State* st, uint32_t id, A... a) {
    const MsgArg args[] = {MsgArg(a)..., MsgArg(0)};
    err_detail_args(st, id, args, static_cast<int>(sizeof...(A)));
}
// Releases the detail block (after each report; also safe when there is none).
void err_detail_free(State* st);
int  err_severity(uint32_t n);
// The number a report shows for E: the saved user code for user-defined and
// extender errors (1668, 2669, 3670, 1213, 2214, 3215) and for 9013/9014/9016,
// otherwise E itself.
uint32_t err_reported_number(State* st, uint32_t e);

// Message text of `id` (string table or language file), "~" and "|" translated.
const char* msg_text(State* st, uint32_t id, char* buf, int size);
extern "C" int LoadMyString(State* st, HMODULE module, uint32_t id, char* buf, int size);

// The decision after each statement. Returns 1 continue, 0 stop; may move *nextPos
// (handler labels) and push frames.
int err_after_statement(State* st, const char* lineText, uint32_t linePos, uint32_t* nextPos,
                        HGLOBAL buf);
// Reporting routine: 1 continue, 0 stop.
int err_report(State* st, HWND owner, uint32_t firstTextId, uint32_t errNum, int severity);
// The same with a ready numbered text ("User-Defined Error:  7001: text",
// "KEL Extender Error:  text"): shows it in the error dialog (or hands it to the
// report callback) by severity and error mode. 1 continue, 0 stop.
int err_report_text(State* st, HWND owner, uint32_t errNum, int severity, const char* numbered);
// Hands error e to the trace writer once the error handling has decided about
// it: terminal (the run ends) or suppressed (an error mode, a handler or the
// user let the run go on). The writer records it when a trace asks for it.
void trace_error(State* st, uint32_t e, bool terminal);
// The system's version as the system itself reports it (no compatibility
// shims): for the error dialog's version line and the trace header.
RTL_OSVERSIONINFOW system_version();
// "KEL Internal Error" box and error 1425.
void internal_error(State* st, const char* text);

// The platform-error record (platform_error.cpp), for library functions whose
// system call failed: stores `code` as LastError in section CXDXA64I of the
// settings file CORVEXRC.INI and, with addDetail, appends "<call> error:",
// two line feeds, four blanks and the code to the detail block.
void platform_error(State* st, const char* call, DWORD code, bool addDetail = true);
// Full path of the settings file CORVEXRC.INI (in the Windows directory).
bool settings_file_path(char* out, size_t size);

// Every box the core raises outside the error dialog (the Execute warning,
// preparation failures, internal errors) goes through here instead of
// MessageBox: with a report callback set it is handed to the host as a
// KelReport of kind 1 and answered as a user would answer to go on (IDOK,
// IDYES, IDIGNORE, IDCONTINUE; IDCANCEL for retry boxes); in no-dialog mode it is
// logged and its texts kept for the host; otherwise the message box shows,
// owned by the host window. Returns the button id.
int core_box(State* st, const char* text, const char* title, UINT type);

// The statement an error belongs to: the one handed to err_after_statement,
// else the executor's current line. file/line come from the source-location
// markers (the current file name when the buffer has none); exact is false
// when the buffer could not be read and the line number is unknown (0).
struct ErrContext {
    const char* line;
    HGLOBAL     buf;
    uint32_t    linePos, stmtPos, nextPos;
    char        file[MAX_PATH];
    uint32_t    lineNo;
    bool        exact;
    const char* udfName;     // function the statement belongs to, "" in a script
};
void err_context(State* st, ErrContext* cx);
// source_location for any buffer being executed, function bodies included
// (a body keeps the key positions of the buffer that defined it).
bool err_source_location(State* st, HGLOBAL buf, uint32_t pos, char* file, size_t fileSize, uint32_t* line);

// Predefined error variables (errvars.cpp). Sets them in the current scope for
// error E (9999: the cancel texts); with arrayOnly only cxerrorarray. When
// arrayOut is given it receives a reference to the array (the caller releases it).
// False when a variable could not be stored: st->err then holds what could not
// be had (3096, 1631 or 3097), which is reported instead of E, since no
// handler can be given E.
bool err_set_vars(State* st, uint32_t e, bool arrayOnly, Cell* arrayOut);

// Script controls (errfuncs.cpp). IntControl 72 and 73: set the cancel-handler
// or error-handler mode (0 none, 1 label, 2 label as GoSub, 3 function named by
// `func`); any other mode only reads. Return the previous mode.
int errctl_cancel_mode(State* st, int mode, const char* func);
int errctl_error_mode(State* st, int mode, const char* func);
struct BuiltinEntry;
extern const BuiltinEntry g_errorBuiltins[];   // ErrorMode, LastError, ErrorEvent
extern const int g_errorBuiltinCount;

// The texts of one error report, as the dialog shows them and as a console
// host receives them (report.cpp builds them, errordlg.cpp shows them).
struct ErrReport {
    uint32_t    errNum;
    int         severity;
    bool        twoButtons;   // ERRORMSGB (Continue/Exit) rather than ERRORMSG
    const char* title;        // "Error:  " + host window title
    const char* firstText;    // the message of the first-text id, or the statement line
    const char* numbered;     // "NNNN:  message"
    const char* file;         // current file name
    const char* location;     // "On line 12 of x.kel"
    const char* scope;        // "In x.kel" / "In Routine \"f\""
    const char* statement;    // the failing line's text
    const char* version;      // system information line + "KEL Version: ..."
    const char* detail;       // detail block text ("" when none)
};
// Runs ERRORMSG or ERRORMSGB modally (errordlg.cpp): IDOK continue, IDCANCEL
// exit, ERRDLG_SAVED (140) the report was saved.
int errdlg_run(State* st, HWND owner, const ErrReport* r);
constexpr int ERRDLG_SAVED = 140;

#include "kel.h"   // KelReport, KelReportCallback: the console-host report hand-off
