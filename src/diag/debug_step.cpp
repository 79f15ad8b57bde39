// The single-step window of Debug: before each statement it shows where the
// script is and what it is about to run, and waits for the user: Next
// Statement runs it and stops at the next one, Show Var lists the variables,
// Run switches single-stepping off, Cancel ends the run as a user cancel does.
//
// Nobody may be at the screen: a host that takes reports itself (a console
// runner) or runs without dialogs gets no window; there Debug only sends each
// line to the debugger output, which the line loop does before calling here.
#include "trace_block.h"
#include "errors.h"
#include "exec.h"
#include <cstdio>
#include <vector>

extern "C" INT_PTR CALLBACK DebugProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);

namespace {

enum : int {
    IDC_STEP_WHERE = 2001, IDC_STEP_LINE = 2002, IDC_STEP_VARS = 2003, IDC_STEP_SHOWVAR = 2004,
    IDC_STEP_RUN = 2005,
};

struct StepContext {
    State*      st;
    const char* line;
};

// A dialog template built in memory: the window needs no resource of its own.
class DialogTemplate {
public:
    DialogTemplate(const wchar_t* title, short cx, short cy, WORD items) {
        dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
        dword(0);
        w_.push_back(items);
        for (short v : {short(0), short(0), cx, cy}) w_.push_back(static_cast<WORD>(v));
        w_.push_back(0);   // no menu
        w_.push_back(0);   // the standard class
        text(title);
        w_.push_back(8);
        text(L"MS Shell Dlg");
    }
    void item(WORD atom, const wchar_t* label, WORD id, DWORD style, short x, short y, short cx, short cy) {
        if (w_.size() % 2) w_.push_back(0);   // items start on a DWORD boundary
        dword(style | WS_CHILD | WS_VISIBLE);
        dword(0);
        for (short v : {x, y, cx, cy}) w_.push_back(static_cast<WORD>(v));
        w_.push_back(id);
        w_.push_back(0xFFFF);
        w_.push_back(atom);
        text(label);
        w_.push_back(0);   // no creation data
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(w_.data()); }

private:
    void dword(DWORD v) {
        w_.push_back(LOWORD(v));
        w_.push_back(HIWORD(v));
    }
    void text(const wchar_t* s) {
        while (*s) w_.push_back(*s++);
        w_.push_back(0);
    }
    std::vector<WORD> w_;
};

constexpr WORD kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kListBox = 0x83;

void fill(HWND dlg, const StepContext* cx) {
    State* st = cx->st;
    const TraceBlock* t = st->traceBlock;
    if (t && t->debugTitle[0]) SetWindowTextA(dlg, t->debugTitle);
    ErrContext where;
    err_context(st, &where);
    char text[MAX_PATH + 160];
    if (where.udfName[0]) snprintf(text, sizeof text, "Line %u of %s (%s)", where.lineNo, where.file, where.udfName);
    else snprintf(text, sizeof text, "Line %u of %s", where.lineNo, where.file);
    SetDlgItemTextA(dlg, IDC_STEP_WHERE, text);
    SetDlgItemTextA(dlg, IDC_STEP_LINE, trace_statement_text(cx->line).c_str());
}

void show_variables(HWND dlg, State* st) {
    HWND list = GetDlgItem(dlg, IDC_STEP_VARS);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const std::string& row : variable_rows(st))
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
}

void step(State* st, const char* line) {
    if (st->reportCb || st->noDialogs) return;   // nobody to answer the window
    DialogTemplate d(L"Debug", 320, 190, 7);
    d.item(kStatic, L"", IDC_STEP_WHERE, SS_LEFT | SS_NOPREFIX, 7, 7, 306, 10);
    d.item(kEdit, L"", IDC_STEP_LINE, ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 20, 306, 14);
    d.item(kListBox, L"", IDC_STEP_VARS, LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL | WS_BORDER, 7, 40, 306, 122);
    d.item(kButton, L"Next Statement...", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 7, 169, 80, 14);
    d.item(kButton, L"&Show Var", IDC_STEP_SHOWVAR, BS_PUSHBUTTON | WS_TABSTOP, 93, 169, 70, 14);
    d.item(kButton, L"&Run", IDC_STEP_RUN, BS_PUSHBUTTON | WS_TABSTOP, 169, 169, 70, 14);
    d.item(kButton, L"Cancel", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 245, 169, 68, 14);
    StepContext cx{st, line};
    HWND owner = st->ownerWnd ? st->ownerWnd : st->hostWnd;
    const INT_PTR r = DialogBoxIndirectParamW(g_hInst, d.get(), owner, DebugProc, reinterpret_cast<LPARAM>(&cx));
    if (r == IDC_STEP_RUN) st->debugOut = 0;
    else if (r == IDCANCEL) st->pendingErr = 9999;   // "User requested Cancel", before the statement runs
}

}  // namespace

extern "C" INT_PTR CALLBACK DebugProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dlg, DWLP_USER, lp);
        fill(dlg, reinterpret_cast<const StepContext*>(lp));
        return TRUE;
    case WM_COMMAND: {
        auto* cx = reinterpret_cast<const StepContext*>(GetWindowLongPtrW(dlg, DWLP_USER));
        switch (LOWORD(wp)) {
        case IDC_STEP_SHOWVAR:
            if (cx) show_variables(dlg, cx->st);
            return TRUE;
        case IDOK:
        case IDC_STEP_RUN:
        case IDCANCEL:
            EndDialog(dlg, LOWORD(wp));
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}

void debug_step_install() { g_debugStep = step; }
