// Questions about one window: WinExist, WinState, WinTitle, WinExeName,
// WinIdGet, WinIdConvert, WinIsDos, WinGetActive, WinName, WinIsRuntimeApp.
#include "library/windows/win_internal.h"
#include "eval.h"
#include <tlhelp32.h>
#include <cwchar>

namespace win {

namespace {

// A handle that is closed whatever way the function ends.
class Handle {
public:
    explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() {
        if (h_) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

DWORD process_of(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

// Whether process `pid` has loaded the library (it runs KEL scripts).
bool runs_library(DWORD pid) {
    if (pid == GetCurrentProcessId()) return true;
    Handle snap(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid));
    if (!snap.get()) return false;
    MODULEENTRY32W me{};
    me.dwSize = sizeof me;
    for (BOOL ok = Module32FirstW(snap.get(), &me); ok; ok = Module32NextW(snap.get(), &me))
        if (lstrcmpiW(me.szModule, L"CXDXA64I.dll") == 0) return true;
    return false;
}

}  // namespace

}  // namespace win

using namespace win;

// WinExist(title): 1 when the window exists now, else 0 (no waiting).
void fn_winexist(State* st, int, Cell* result, Cell* args, bool) {
    std::wstring title;
    if (!text_arg(st, &args[1], &title)) return;
    cell_set_int(st, result, lookup(st, title.c_str(), 0) ? 1 : 0);
}

// WinState(title): -1 hidden, 1 minimised, 2 normal, 3 maximised, 0 not found.
void fn_winstate(State* st, int, Cell* result, Cell* args, bool) {
    std::wstring title;
    if (!text_arg(st, &args[1], &title)) return;
    const Found f = lookup(st, title.c_str(), wait_setting(st));
    const HWND h = f.hwnd;
    cell_set_int(st, result, !h ? 0 : !IsWindowVisible(h) ? -1 : IsIconic(h) ? 1 : IsZoomed(h) ? 3 : 2);
}

// WinTitle(title, new-title): renames the window. Returns 1.
void fn_wintitle(State* st, int, Cell* result, Cell* args, bool) {
    Found f;
    std::wstring title;
    if (!acting_arg(st, &args[1], 1121, &f) || !text_arg(st, &args[2], &title)) return;
    DWORD_PTR answer;
    SendMessageTimeoutW(f.hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title.c_str()), SMTO_ABORTIFHUNG, 5000,
                        &answer);
    cell_set_int(st, result, 1);
}

// WinExeName(title): full path of the program that owns the window ("" when
// the system does not tell).
void fn_winexename(State* st, int, Cell* result, Cell* args, bool) {
    Found f;
    if (!acting_arg(st, &args[1], 1172, &f)) return;
    Handle proc(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_of(f.hwnd)));
    wchar_t path[MAX_PATH * 2];
    DWORD n = MAX_PATH * 2;
    if (!proc.get() || !QueryFullProcessImageNameW(proc.get(), 0, path, &n)) n = 0;
    set_text(st, result, std::wstring(path, n));
}

// WinIdGet(title [, quick = 0]): the window id. A non-zero `quick` looks once
// instead of retrying for the window-wait setting.
void fn_winidget(State* st, int nargs, Cell* result, Cell* args, bool) {
    std::wstring title;
    if (!text_arg(st, &args[1], &title)) return;
    const bool quick = nargs >= 2 && args[2].i != 0;
    const Found f = lookup(st, title.c_str(), quick ? 0 : wait_setting(st));
    if (!f) {
        st->err = 1408;
        return;
    }
    set_text(st, result, format_id(f.hwnd));
}

// WinIdConvert(value): a window id becomes the window handle as a number; a
// number becomes the window id of that handle. Anything else is 1583.
void fn_winidconvert(State* st, int, Cell* result, Cell* args, bool) {
    std::wstring text;
    if (!text_arg(st, &args[1], &text)) return;
    HWND h;
    if (parse_id(text.c_str(), &h)) {
        if (!h) st->err = 1583;
        else cell_set_int(st, result, static_cast<int32_t>(reinterpret_cast<intptr_t>(h)));
        return;
    }
    const std::string digits(text.begin(), text.end());
    int64_t v;
    bool is64;
    if (text.size() > 20 || !text_is_integer(digits.c_str(), true, &v, &is64) || v < INT32_MIN || v > UINT32_MAX) {
        st->err = 1583;
        return;
    }
    set_text(st, result, format_id(reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(v)))));
}

// WinIsDos(title): 1 for a console window, else 0.
void fn_winisdos(State* st, int, Cell* result, Cell* args, bool) {
    Found f;
    if (!acting_arg(st, &args[1], 1227, &f)) return;
    cell_set_int(st, result, is_console(f.hwnd) ? 1 : 0);
}

// WinGetActive(): the title of the foreground window ("" when there is none).
void fn_wingetactive(State* st, int, Cell* result, Cell*, bool) {
    HWND h = GetForegroundWindow();
    set_text(st, result, h ? top_title(h) : std::wstring());
}

// WinName(): the title of the host's window ("" for a host without one).
void fn_winname(State* st, int, Cell* result, Cell*, bool) {
    HWND h = st->hostWnd && IsWindow(st->hostWnd) ? st->hostWnd : nullptr;
    set_text(st, result, h ? top_title(h) : std::wstring());
}

// WinIsRuntimeApp(title): 1 when the window's program runs KEL scripts (it has
// loaded this library), 0 otherwise or when there is no such window.
void fn_winisruntimeapp(State* st, int, Cell* result, Cell* args, bool) {
    std::wstring title;
    if (!text_arg(st, &args[1], &title)) return;
    const Found f = lookup(st, title.c_str(), 0);
    cell_set_int(st, result, f && runs_library(process_of(f.hwnd)) ? 1 : 0);
}
