// The error dialogs ERRORMSG (one button, the run stops) and ERRORMSGB
// (Continue / Exit), and STACKINFO, the traceback of open structures.
// Labels come from the message table so that a language file translates them.
#include "errors.h"
#include "exec.h"
#include "loader.h"
#include "resources/resource.h"
#include <cstdio>
#include <cstring>

namespace {

struct DialogData {
    State* st;
    const ErrReport* r;
};

void set_label(State* st, HWND dlg, int id, uint32_t msg) {
    char text[128];
    if (msg_text(st, msg, text, sizeof text)[0]) SetDlgItemTextA(dlg, id, text);
}

// The statement edit control wants CR LF line ends.
void set_multiline(HWND dlg, int id, const char* text) {
    char buf[LINE_BUF * 2];
    size_t o = 0;
    for (const char* s = text; *s && o + 3 < sizeof buf; ++s) {
        if (*s == '\n' && (s == text || s[-1] != '\r')) buf[o++] = '\r';
        buf[o++] = *s;
    }
    buf[o] = 0;
    SetDlgItemTextA(dlg, id, buf);
}

const char* kind_name(uint16_t kind) {
    switch (kind) {
    case SK_FOR: return "For";
    case SK_FOREACH: return "ForEach";
    case SK_SWITCH: return "Switch";
    case SK_WHILE: return "While";
    case SK_IF: return "If";
    case SK_ELSE: return "Else";
    case SK_GOSUB_FALSE: case SK_GOSUB_TRUE: case SK_GOSUB_NONE: return "GoSub";
    case SK_CALL: return "Call";
    case SK_UDF: return "Function";
    default: return "?";
    }
}

// One line per open structure, innermost first: kind, line and file.
void fill_traceback(State* st, HWND list) {
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (uint32_t i = st->stackCount; i-- > 0;) {
        const StructEntry& e = st->stack[i];
        char file[MAX_PATH] = "";
        uint32_t line = 0;
        HGLOBAL buf = static_cast<HGLOBAL>(e.caller);
        if (!buf || !err_source_location(st, buf, e.linePos, file, sizeof file, &line)) file[0] = 0;
        const UdfRecord* rec = e.kind == SK_UDF && e.script != 65535 ? udf_record(st, e.script) : nullptr;
        char text[MAX_PATH + 120];
        snprintf(text, sizeof text, "%u\t%s%s%s\tline %u\t%s", i + 1, kind_name(e.kind),
                 rec ? " " : "", rec ? rec->name : "", line, file);
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    if (!st->stackCount)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("(no open structures)"));
}

INT_PTR CALLBACK StackInfoProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG: {
        State* st = reinterpret_cast<State*>(lp);
        char title[64];
        if (msg_text(st, 248, title, sizeof title)[0]) SetWindowTextA(dlg, title);
        HWND list = GetDlgItem(dlg, IDC_STACK_LIST);
        int tabs[3] = { 20, 90, 130 };
        SendMessageA(list, LB_SETTABSTOPS, 3, reinterpret_cast<LPARAM>(tabs));
        fill_traceback(st, list);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) EndDialog(dlg, LOWORD(wp));
        return TRUE;
    }
    return FALSE;
}

// Appends the report to the save file chosen by the host (DLLServices 30).
bool save_report(State* st, const ErrReport* r) {
    HANDLE f = CreateFileA(st->savePath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    char text[8192];
    int n = snprintf(text, sizeof text, "%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n\r\n", r->title,
                     r->numbered, r->location, r->scope, r->statement, r->detail, r->version);
    if (n > static_cast<int>(sizeof text) - 1) n = sizeof text - 1;
    DWORD written;
    BOOL ok = n > 0 && WriteFile(f, text, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(f);
    return ok;
}

void init_dialog(HWND dlg, const DialogData* d) {
    State* st = d->st;
    const ErrReport* r = d->r;
    HICON icon = LoadIcon(nullptr, r->twoButtons ? IDI_EXCLAMATION : IDI_HAND);
    SendDlgItemMessageA(dlg, IDC_ERR_ICON, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    set_label(st, dlg, IDC_ERR_HEADING, 230);
    SetDlgItemTextA(dlg, IDC_ERR_FILE, r->file);
    SetDlgItemTextA(dlg, IDC_ERR_NUMBERED, r->numbered);
    SetDlgItemTextA(dlg, IDC_ERR_LOCATION, r->location);
    SetDlgItemTextA(dlg, IDC_ERR_SCOPE, r->scope);
    set_multiline(dlg, IDC_ERR_STATEMENT, r->statement);
    SetDlgItemTextA(dlg, IDC_ERR_VERSION, r->version);
    set_label(st, dlg, IDC_ERR_MOREINFO, 245);
    set_label(st, dlg, IDC_ERR_TRACEBACK, 247);
    if (r->twoButtons) {
        set_label(st, dlg, IDOK, 233);
        set_label(st, dlg, IDCANCEL, 234);
    }
    EnableWindow(GetDlgItem(dlg, IDC_ERR_MOREINFO), r->detail[0] != 0);
    if (st->saveReport && st->savePath[0]) ShowWindow(GetDlgItem(dlg, IDC_ERR_SAVE), SW_SHOW);
    SetWindowTextA(dlg, r->title);   // last: whoever finds the dialog by its title sees it complete
    SetForegroundWindow(dlg);
}

} // namespace

extern "C" INT_PTR CALLBACK ErrorMsgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dlg, DWLP_USER, lp);
        init_dialog(dlg, reinterpret_cast<const DialogData*>(lp));
        SetFocus(GetDlgItem(dlg, IDOK));   // not the statement text, which would show selected
        return FALSE;
    case WM_COMMAND: {
        auto* d = reinterpret_cast<const DialogData*>(GetWindowLongPtrA(dlg, DWLP_USER));
        if (!d) return FALSE;
        switch (LOWORD(wp)) {
        case IDOK:
            EndDialog(dlg, IDOK);
            return TRUE;
        case IDCANCEL:
            // ERRORMSG has no Exit button: Esc and the close box acknowledge like OK,
            // and the run stops anyway.
            EndDialog(dlg, d->r->twoButtons ? IDCANCEL : IDOK);
            return TRUE;
        case IDC_ERR_MOREINFO: {
            char title[128];
            msg_text(d->st, 246, title, sizeof title);
            MessageBoxA(dlg, d->r->detail, title, MB_OK | MB_ICONINFORMATION);
            return TRUE;
        }
        case IDC_ERR_TRACEBACK:
            DialogBoxParamA(g_hInst, "STACKINFO", dlg, StackInfoProc, reinterpret_cast<LPARAM>(d->st));
            return TRUE;
        case IDC_ERR_SAVE:
            if (save_report(d->st, d->r)) EndDialog(dlg, ERRDLG_SAVED);
            return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}

int errdlg_run(State* st, HWND owner, const ErrReport* r) {
    if (!owner) owner = st->ownerWnd ? st->ownerWnd : st->hostWnd;
    DialogData d{st, r};
    INT_PTR answer = DialogBoxParamA(g_hInst, r->twoButtons ? "ERRORMSGB" : "ERRORMSG", owner, ErrorMsgProc,
                                     reinterpret_cast<LPARAM>(&d));
    return static_cast<int>(answer);
}
