// The reporting routine: turns an error into the texts of a report and shows
// it: the error dialog, a plain message box when the host runs without
// dialogs, or a KelReport handed to the host's report callback when nobody is
// at the screen (console hosts). Also routes the core's other boxes.
#include "errors.h"
#include "exec.h"
#include "value.h"
#include "resources/resource.h"
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

// The answer a user who is not there gives to a box of this type: the one that
// goes on.
int unattended_answer(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_YESNO: case MB_YESNOCANCEL: return IDYES;
    case MB_ABORTRETRYIGNORE:           return IDIGNORE;
    case MB_RETRYCANCEL:                return IDCANCEL;   // retrying alone would never end
    case MB_CANCELTRYCONTINUE:          return IDCONTINUE;
    default:                            return IDOK;
    }
}

HWND box_owner(State* st) {
    if (!st) return nullptr;
    return st->ownerWnd ? st->ownerWnd : st->hostWnd;
}

void host_title(State* st, char* out, int size) {
    out[0] = 0;
    if (st->hostWnd) GetWindowTextA(st->hostWnd, out, size);
    if (!out[0]) snprintf(out, size, "%s", st->hostId1[0] ? st->hostId1 : "KEL");
}

// One line per box: date, time, host window title, box title, box text.
void log_box(State* st, const char* text, const char* title) {
    if (!st->msgLog[0]) return;
    SYSTEMTIME t;
    GetLocalTime(&t);
    char win[256];
    host_title(st, win, sizeof win);
    char line[2400];
    int n = snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u  %s  %s  %s",
                     t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, win, title, text);
    if (n < 0) return;
    if (n >= static_cast<int>(sizeof line) - 2) n = sizeof line - 3;
    for (int i = 0; i < n; ++i)
        if (line[i] == '\n' || line[i] == '\r') line[i] = ' ';
    line[n++] = '\r';
    line[n++] = '\n';
    HANDLE f = CreateFileA(st->msgLog, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(f, line, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(f);
}

void hand_over(State* st, const KelReport& r) {
    reinterpret_cast<KelReportCallback>(st->reportCb)(st->reportCtx, &r);
}

// "Windows 10.0 (build 19045)", preceded by the host's identification texts.
void version_line(State* st, char* out, size_t size) {
    const RTL_OSVERSIONINFOW v = system_version();
    char kelVersion[64];
    msg_text(st, 849, kelVersion, sizeof kelVersion);
    char hosts[64] = "";
    for (const char* id : {st->hostId1, st->hostId2})
        if (id[0]) snprintf(hosts + strlen(hosts), sizeof hosts - strlen(hosts), "%s  ", id);
    snprintf(out, size, "%sWindows %lu.%lu (build %lu)\n%s %s", hosts, v.dwMajorVersion,
             v.dwMinorVersion, v.dwBuildNumber, kelVersion, KEL_VERSION_STR);
}

// Builds the texts, shows or hands over the report, and answers 1 (continue)
// or 0 (stop). `reported` is the number the report shows.
int show_report(State* st, HWND owner, uint32_t firstTextId, uint32_t reported, int severity,
                const char* numbered) {
    const bool twoButtons = !(st->errorMode == EM_CANCEL || severity == SEV_FATAL);
    ErrContext cx;
    err_context(st, &cx);

    char onLine[64], of[64], routine[64], in[64], errorWord[64];
    msg_text(st, cx.exact ? 231 : 226, onLine, sizeof onLine);   // "On line" / "Near line"
    msg_text(st, 227, of, sizeof of);
    msg_text(st, 228, routine, sizeof routine);
    msg_text(st, 229, in, sizeof in);
    msg_text(st, 230, errorWord, sizeof errorWord);

    char where[MAX_PATH + 80];
    if (cx.udfName[0]) snprintf(where, sizeof where, "%s \"%s\"", routine, cx.udfName);
    else snprintf(where, sizeof where, "%s", cx.file);
    char location[MAX_PATH + 200], scope[MAX_PATH + 100], title[400], hostTitle[256];
    snprintf(location, sizeof location, "%s %u %s %s", onLine, cx.lineNo, of, where);
    snprintf(scope, sizeof scope, "%s %s", in, where);
    host_title(st, hostTitle, sizeof hostTitle);
    snprintf(title, sizeof title, "%s  %s", errorWord, hostTitle);
    char first[1100];
    if (firstTextId > 99) msg_text(st, firstTextId, first, sizeof first);
    else snprintf(first, sizeof first, "%s", cx.line);
    char version[400];
    version_line(st, version, sizeof version);

    ErrReport r{reported, severity, twoButtons, title, first, numbered, cx.file, location, scope,
                cx.line, version, st->detail ? st->detail : ""};
    int answer;
    if (st->reportCb) {
        KelReport k{sizeof(KelReport), 0, reported, severity, title, numbered, location, cx.line,
                    r.detail, twoButtons ? 1 : 0};
        hand_over(st, k);
        answer = twoButtons ? IDOK : IDCANCEL;
    } else if (st->noDialogs) {
        answer = core_box(st, first, numbered, (twoButtons ? MB_OKCANCEL : MB_OK) | MB_ICONSTOP);
    } else {
        if (st->sounds) MessageBeep(MB_ICONHAND);
        answer = errdlg_run(st, owner, &r);
        if (answer <= 0) {       // the dialog could not be created: say it plainly
            char text[4600];
            snprintf(text, sizeof text, "%s\n\n%s\n%s", numbered, location, cx.line);
            answer = core_box(st, text, title, (twoButtons ? MB_OKCANCEL : MB_OK) | MB_ICONSTOP);
        }
    }
    if (st->errorMode == EM_CANCEL || severity == SEV_FATAL || answer == IDCANCEL ||
        answer == ERRDLG_SAVED)
        return 0;
    st->err = 0;
    return 1;
}

} // namespace

RTL_OSVERSIONINFOW system_version() {
    RTL_OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof v;
    typedef LONG(WINAPI * RtlGetVersionFn)(RTL_OSVERSIONINFOW*);
    auto get = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
    if (get) get(&v);
    return v;
}

int core_box(State* st, const char* text, const char* title, UINT type) {
    if (!text) text = "";
    if (!title) title = "";
    if (st && st->reportCb) {
        KelReport k{sizeof(KelReport), 1, 0, 0, title, text, "", "", "", 1};
        hand_over(st, k);
        return unattended_answer(type);
    }
    if (st && st->noDialogs) {
        snprintf(st->boxTitle, sizeof st->boxTitle, "%s", title);
        snprintf(st->boxText, sizeof st->boxText, "%s", text);
        log_box(st, text, title);
    }
    return MessageBoxA(box_owner(st), text, title, type | MB_SETFOREGROUND);
}

void trace_error(State* st, uint32_t e, bool terminal) {
    if (!g_traceWriter) return;
    Cell number;
    cell_init(&number, static_cast<int32_t>(e + (terminal ? 10000 : 0)));
    g_traceWriter(st, TRACE_ERROR, nullptr, &number);
}

int err_report(State* st, HWND owner, uint32_t firstTextId, uint32_t errNum, int severity) {
    // A failure that forgot its number is still a failure: show it as an
    // internal error rather than as "Error 0" with no text.
    if (errNum == 0) errNum = 1425;
    const uint32_t reported = err_reported_number(st, errNum);
    st->lastErr = static_cast<uint16_t>(reported);
    int goOn = 1;
    if (!(st->errorMode == EM_OFF && severity == SEV_MINOR)) {
        char text[1100], numbered[1200];
        if (reported != errNum) snprintf(text, sizeof text, "%s", st->userText);
        else msg_text(st, errNum, text, sizeof text);
        snprintf(numbered, sizeof numbered, "%u:  %s", reported, text);
        goOn = show_report(st, owner, firstTextId, reported, severity, numbered);
    }
    trace_error(st, errNum, !goOn);
    return goOn;
}

int err_report_text(State* st, HWND owner, uint32_t errNum, int severity, const char* numbered) {
    const uint32_t reported = err_reported_number(st, errNum);
    st->lastErr = static_cast<uint16_t>(reported);
    int goOn = 1;
    if (!(st->errorMode == EM_OFF && severity == SEV_MINOR))
        goOn = show_report(st, owner, 1, reported, severity, numbered);
    trace_error(st, errNum, !goOn);
    return goOn;
}
