// The acting members that change a window's state: WinActivate, WinClose,
// WinHide, WinIconize, WinZoom, WinShow, WinCloseNot and WindowOnTop.
//
// Requests to windows of other programs are posted system commands (they
// never block the script on a busy program), followed by the command delay
// so that the next statement sees the change. The host's own window is
// changed directly.
#include "library/windows/win_internal.h"
#include "wait.h"

namespace win {

namespace {

DWORD thread_of(HWND h) { return h ? GetWindowThreadProcessId(h, nullptr) : 0; }

}  // namespace

InputJoin::InputJoin(DWORD other) : me_(GetCurrentThreadId()), other_(other) {
    joined_ = other_ && other_ != me_ && AttachThreadInput(me_, other_, TRUE);
}

InputJoin::~InputJoin() {
    if (joined_) AttachThreadInput(me_, other_, FALSE);
}

void activate(State* st, const Found& f) {
    HWND h = f.hwnd;
    // A window that shows a modal dialog is represented by the dialog.
    HWND popup = f.host ? nullptr : GetLastActivePopup(h);
    if (popup && popup != h && IsWindowVisible(popup) && IsWindowEnabled(popup)) h = popup;
    if (IsIconic(h)) ShowWindow(h, SW_RESTORE);
    if (!SetForegroundWindow(h)) {
        // The system refused the switch to a process that is not in the
        // foreground: joined to the input of both threads it is allowed.
        InputJoin withForeground(thread_of(GetForegroundWindow()));
        InputJoin withTarget(thread_of(h));
        SetForegroundWindow(h);
        SetActiveWindow(h);
    }
    BringWindowToTop(h);
    // The switch completes in the other program's thread: give it a moment.
    for (int k = 0; k < 20 && GetForegroundWindow() != h; ++k)
        if (!pause(st, 25)) break;
}

bool focus_window(HWND h) {
    InputJoin join(thread_of(h));
    SetFocus(h);
    return GetFocus() == h;
}

}  // namespace win

using namespace win;

// WinActivate(title): brings the window to the foreground.
void fn_winactivate(State* st, int, Cell* result, Cell* args, bool) {
    Found f;
    if (!acting_arg(st, &args[1], 1045, &f)) return;
    activate(st, f);
    cell_set_int(st, result, 1);
}

// WinClose(title): asks the window to close; does not wait for it to go.
void fn_winclose(State* st, int, Cell* result, Cell* args, bool) {
    Found f;
    if (!acting_arg(st, &args[1], 1039, &f)) return;
    post_syscommand(f.hwnd, SC_CLOSE);
    cell_set_int(st, result, 1);
}

// WinHide(title)
void fn_winhide(State* st, int, Cell* result, Cell* args, bool) {
    Found f;
    if (!acting_arg(st, &args[1], 1040, &f)) return;
    ShowWindow(f.hwnd, SW_HIDE);
    cell_set_int(st, result, 1);
}

// WinIconize(title): minimises (a minimised window succeeds at once).
void fn_winiconize(State* st, int, Cell* result, Cell* args, bool) {
    Found f;
    if (!acting_arg(st, &args[1], 1041, &f)) return;
    if (!IsIconic(f.hwnd)) {
        if (f.host) {
            ShowWindow(f.hwnd, SW_SHOWMINNOACTIVE);
        } else {
            post_syscommand(f.hwnd, SC_MINIMIZE);
            pause(st, command_delay(st));
        }
    }
    cell_set_int(st, result, 1);
}

// WinZoom(title): maximises.
void fn_winzoom(State* st, int, Cell* result, Cell* args, bool) {
    Found f;
    if (!acting_arg(st, &args[1], 1042, &f)) return;
    if (f.host) {
        ShowWindow(f.hwnd, SW_SHOWMAXIMIZED);
    } else {
        post_syscommand(f.hwnd, SC_MAXIMIZE);
        pause(st, command_delay(st));
    }
    cell_set_int(st, result, 1);
}

// WinShow(title): shows a hidden window, restores a minimised or maximised one.
void fn_winshow(State* st, int, Cell* result, Cell* args, bool) {
    Found f;
    if (!acting_arg(st, &args[1], 1043, &f)) return;
    if (f.host) ShowWindow(f.hwnd, SW_SHOWNA);
    else if (!IsWindowVisible(f.hwnd)) ShowWindow(f.hwnd, SW_SHOW);
    else restore(st, f.hwnd);
    cell_set_int(st, result, 1);
}

// WinCloseNot(title, ...): asks every visible, titled top-level window of
// other programs to close, except the host's window, the desktop shell and
// the windows the titles name. Returns 1.
void fn_winclosenot(State* st, int nargs, Cell* result, Cell* args, bool) {
    std::vector<std::wstring> keep;
    for (int k = 1; k <= nargs; ++k) {
        std::wstring t;
        if (!text_arg(st, &args[k], &t)) return;
        keep.push_back(t);
    }
    std::vector<HWND> all;
    if (!top_windows(&all)) {
        st->err = 1334;
        return;
    }
    const DWORD self = GetCurrentProcessId();
    for (HWND h : all) {
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        const std::wstring t = top_title(h);
        if (pid == self || h == st->hostWnd || !IsWindowVisible(h) || title_ignored(t)) continue;
        wchar_t cls[32];
        if (GetClassNameW(h, cls, 32) && (wcscmp(cls, L"Progman") == 0 || wcscmp(cls, L"Shell_TrayWnd") == 0))
            continue;
        bool spared = false;
        for (const std::wstring& k : keep) spared = spared || (!k.empty() && title_matches(k.c_str(), t.c_str()));
        if (!spared) post_syscommand(h, SC_CLOSE);
    }
    cell_set_int(st, result, 1);
}

// WindowOnTop(title [, mode = 1]): 1 keeps the window above all others, 0
// returns it to the ordinary order, -1 only asks (1 when it is kept on top).
// Returns 1 (for -1 the answer), 0 when there is no such window.
void fn_windowontop(State* st, int nargs, Cell* result, Cell* args, bool) {
    const int mode = nargs >= 2 ? args[2].i : 1;
    if (mode < -1 || mode > 1) {
        st->err = 1217;
        return;
    }
    std::wstring title;
    if (!text_arg(st, &args[1], &title)) return;
    const Found f = lookup(st, title.c_str(), 0);
    if (!f) {
        cell_set_int(st, result, 0);
        return;
    }
    if (mode == -1) {
        cell_set_int(st, result, (GetWindowLongPtrW(f.hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0);
        return;
    }
    if (!SetWindowPos(f.hwnd, mode ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                      SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE)) {
        st->err = 1567;
        return;
    }
    cell_set_int(st, result, 1);
}
