// DebugData and Debug: a line for the debugger, and the single-step setting.
#include "trace_block.h"
#include "trace.h"
#include "dispatch.h"
#include "errors.h"
#include "library/core/intcontrol.h"
#include "kel.h"
#include "value.h"
#include <cstdio>
#include <string>

namespace {

std::wstring wide_text(State* st, const char* s) {
    const UINT cp = st->codePage ? st->codePage : CP_ACP;
    const int n = MultiByteToWideChar(cp, 0, s, -1, nullptr, 0);
    std::wstring w(n > 1 ? static_cast<size_t>(n - 1) : 0, L'\0');
    if (n > 1) MultiByteToWideChar(cp, 0, s, -1, w.data(), n);
    return w;
}

// A string argument (ANSI or wide, as the dispatcher converted it).
std::wstring cell_text(State* st, const Cell* c) {
    return (c->type & TW_UNICODE) ? std::wstring(cell_wstr(st, c)) : wide_text(st, cell_str(st, c));
}

std::string narrow(State* st, const std::wstring& w) {
    const UINT cp = st->codePage ? st->codePage : CP_ACP;
    const int n = WideCharToMultiByte(cp, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 1 ? static_cast<size_t>(n - 1) : 0, '\0');
    if (n > 1) WideCharToMultiByte(cp, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
    return s;
}

// The second way out for DebugData (IntControl 160 set to 1): the way error
// reports leave the library. A console host that takes reports gets the line
// as a report of its own; a host without dialogs that keeps a message log
// gets it appended there; otherwise it goes to the debugger output after all.
void to_report_writer(State* st, const std::string& text) {
    if (st->reportCb) {
        KelReport k{sizeof(KelReport), 1, 0, 0, "", text.c_str(), "", "", "", 1};
        reinterpret_cast<KelReportCallback>(st->reportCb)(st->reportCtx, &k);
        return;
    }
    if (st->noDialogs && st->msgLog[0]) {
        SYSTEMTIME t;
        GetLocalTime(&t);
        char stamp[40];
        snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u  ", t.wYear, t.wMonth, t.wDay, t.wHour,
                 t.wMinute, t.wSecond);
        const std::string line = stamp + text + "\r\n";
        HANDLE f = CreateFileA(st->msgLog, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            DWORD written;
            WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            CloseHandle(f);
        }
        return;
    }
    OutputDebugStringA((text + "\r\n").c_str());
}

}  // namespace

// DebugData(name, value): "DebugData:", the name, a blank and the value, as
// one line for the debugger. Returns 1.
void fn_debugdata(State* st, int nargs, Cell* result, Cell* args, bool) {
    char label[64];
    msg_text(st, 836, label, sizeof label);   // "DebugData:"
    std::wstring line = wide_text(st, label);
    if (nargs >= 1) line += cell_text(st, &args[1]);
    line += L" ";
    if (nargs >= 2) line += cell_text(st, &args[2]);
    if (st->debugDataPath == 1) to_report_writer(st, narrow(st, line));
    else OutputDebugStringW((line + L"\r\n").c_str());
    cell_set_int(st, result, 1);
}

// Debug(mode [, title]): the single-step setting: 1 and up on, 0 off, a
// negative mode -1 (each line to the debugger output, no window). Returns the
// previous setting.
void fn_debug(State* st, int nargs, Cell* result, Cell* args, bool) {
    const int previous = static_cast<int8_t>(st->debugOut);
    const int mode = args[1].i;
    TraceBlock* t = nargs >= 2 ? trace_block(st) : nullptr;
    if (nargs >= 2 && !t) return void(st->err = 1588);   // no memory for the title: nothing changes
    st->debugOut = mode >= 1 ? 1 : mode == 0 ? 0 : 0xFF;
    if (t) snprintf(t->debugTitle, sizeof t->debugTitle, "%s", narrow(st, cell_text(st, &args[2])).c_str());
    if (st->debugOut == 1) debug_step_install();
    cell_set_int(st, result, previous);
}

void ic_debugdata_path(State* st, Cell* result, Cell* p) {
    const int previous = st->debugDataPath;
    const int v = ic_int(st, &p[0]);
    if (v == 0 || v == 1) st->debugDataPath = static_cast<uint8_t>(v);
    ic_previous(st, result, previous);
}
