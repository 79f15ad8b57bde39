// SendKey and its relatives: the sending loop (pacing, the pause while the
// foreground program is busy, console windows, the lock keys) and the
// functions that first bring a window or a child window to the front.
#include "library/keys/keys_internal.h"
#include "library/windows/windows.h"
#include "dispatch.h"
#include "keyword_ids.h"
#include "loader.h"
#include "value.h"
#include "wait.h"
#include <cmath>
#include <cwchar>

namespace keys {

namespace {

// Longest pause while the foreground program is not yet waiting for input.
constexpr DWORD kIdleLimitMs = 10000;

// Whether a lock key is on. (Reading it through the target's input queue
// would mean joining the queues, which on some systems resets the target's
// key state: the lock would be lost rather than kept.)
bool lock_on(int vk) { return (GetKeyState(vk) & 1) != 0; }

// Switches Caps Lock off (and Num Lock, for a console) for the duration of a
// call and puts both back as they were, also when the keys changed them.
class LockKeys {
public:
    LockKeys(State* st, bool console, const Delivery& d) : st_(st), d_(d), num_(console) {
        caps_ = lock_on(VK_CAPITAL);
        num_ = num_ && lock_on(VK_NUMLOCK);
        set(VK_CAPITAL, false);
        if (num_) set(VK_NUMLOCK, false);
    }
    ~LockKeys() {
        set(VK_CAPITAL, caps_);
        if (num_) set(VK_NUMLOCK, true);
    }
    LockKeys(const LockKeys&) = delete;
    LockKeys& operator=(const LockKeys&) = delete;

private:
    void set(uint8_t vk, bool on) {
        if (lock_on(vk) != on) send_step(st_, KeyStep{0, vk, false, 0, 1}, d_);
    }
    State*   st_;
    Delivery d_;
    bool     caps_, num_;
};

// A process handle for the idle wait, closed when the next one replaces it.
class Process {
public:
    ~Process() { close(); }
    void open(DWORD pid) {
        close();
        h_ = pid == GetCurrentProcessId() ? nullptr
                                          : OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    }
    HANDLE get() const { return h_; }

private:
    void close() {
        if (h_) CloseHandle(h_);
        h_ = nullptr;
    }
    HANDLE h_ = nullptr;
};

// Watches the foreground window between keys: a new one is remembered in the
// state (with whether it is a console), and its program is given time to get
// ready for input.
class Foreground {
public:
    explicit Foreground(State* st) : st_(st) {}

    void check() {
        if (!st_->keyIdleWait && !st_->keyConsole) return;
        HWND fg = GetForegroundWindow();
        wchar_t title[80] = L"";
        if (fg) InternalGetWindowText(fg, title, 80);
        if (fg != st_->keyFgWnd || wcscmp(title, st_->keyFgTitle) != 0) {
            st_->keyFgWnd = fg;
            wcscpy(st_->keyFgTitle, title);
            st_->keyConsoleMode = st_->keyConsole && fg && win::is_console(fg);
            pid_ = 0;
        }
        if (st_->keyConsoleMode || !st_->keyIdleWait || !fg) return;
        DWORD pid = 0;
        GetWindowThreadProcessId(fg, &pid);
        if (pid != pid_) {
            process_.open(pid);
            pid_ = pid;
        }
        wait_idle();
    }

private:
    void wait_idle() {
        if (!process_.get()) return;
        const DWORD start = GetTickCount();
        while (WaitForInputIdle(process_.get(), 0) == WAIT_TIMEOUT && GetTickCount() - start < kIdleLimitMs)
            if (!wait_interruptible(st_, 10)) return;
    }
    State*  st_;
    Process process_;
    DWORD   pid_ = 0;
};

HKL layout_of(HWND h) { return GetKeyboardLayout(h ? GetWindowThreadProcessId(h, nullptr) : 0); }

// The delay argument args[index] in milliseconds, or the setting when it is
// absent. False with 1020 outside 0 to 86400 seconds.
bool delay_arg(State* st, int nargs, const Cell* args, int index, int* ms) {
    settings_ready(st);
    if (nargs < index) {
        *ms = st->keyDelay;
        return true;
    }
    const double seconds = args[index].f;
    if (!(seconds >= 0.0 && seconds <= 86400.0)) {
        st->err = 1020;
        return false;
    }
    *ms = static_cast<int>(std::lround(seconds * 1000.0));
    return true;
}

// The call's arguments: the key string args[keyIndex] and the delay after it.
bool key_args(State* st, int nargs, Cell* args, int keyIndex, std::wstring* text, int* ms) {
    return delay_arg(st, nargs, args, keyIndex + 1, ms) && win::text_arg(st, &args[keyIndex], text);
}

}  // namespace

int send_string(State* st, const wchar_t* text, int delayMs) {
    settings_ready(st);
    HWND fg = GetForegroundWindow();
    Delivery d{layout_of(fg), false};
    LockKeys locks(st, st->keyConsole && fg && win::is_console(fg), d);
    Foreground watch(st);
    int outcome = 0;
    while (!stop_requested(st)) {
        watch.check();
        d.console = st->keyConsole && st->keyConsoleMode;
        d.layout = layout_of(st->keyFgWnd ? st->keyFgWnd : GetForegroundWindow());
        if (!d.console) pump_messages(st), pump_messages(st);
        KeyStep step;
        const Parse p = next_step(&text, &step);
        if (p == Parse::End) break;
        if (p == Parse::Stop) {
            outcome = -1;
            break;
        }
        if (!send_step(st, step, d)) break;
        if (!d.console) pump_messages(st), pump_messages(st);
        if (delayMs > 0 && !wait_interruptible(st, static_cast<DWORD>(delayMs))) break;
    }
    return outcome;
}

}  // namespace keys

using namespace keys;

namespace {

// SendKey(keys [, delay]) and SendKeyW: to the window with the focus.
void fn_sendkey(State* st, int nargs, Cell* result, Cell* args, bool) {
    std::wstring text;
    int ms;
    if (!key_args(st, nargs, args, 1, &text, &ms)) return;
    cell_set_int(st, result, send_string(st, text.c_str(), ms));
}

// SendKeysTo(title, keys [, delay]) and SendKeysToW: to a window brought to
// the foreground first (1045 when there is no such window).
void fn_sendkeysto(State* st, int nargs, Cell* result, Cell* args, bool) {
    std::wstring title, text;
    int ms;
    if (!key_args(st, nargs, args, 2, &text, &ms) || !win::text_arg(st, &args[1], &title)) return;
    const win::Found f = win::find_acting(st, title.c_str(), 1045);
    if (!f) return;
    win::activate(st, f);
    cell_set_int(st, result, send_string(st, text.c_str(), ms));
}

// SendKeysChild(parent, child, keys [, delay]): to a child window, given the
// focus after its parent was brought to the foreground (1716, 1717).
void fn_sendkeyschild(State* st, int nargs, Cell* result, Cell* args, bool) {
    std::wstring parent, child, text;
    int ms;
    if (!key_args(st, nargs, args, 3, &text, &ms) || !win::text_arg(st, &args[1], &parent) ||
        !win::text_arg(st, &args[2], &child))
        return;
    const win::Found f = win::find_acting(st, parent.c_str(), 1716);
    if (!f) return;
    HWND h = win::find_child(f.hwnd, child.c_str());
    if (!h) {
        st->err = 1717;
        return;
    }
    win::activate(st, f);
    win::focus_window(h);
    cell_set_int(st, result, send_string(st, text.c_str(), ms));
}

}  // namespace

extern const BuiltinEntry g_keyBuiltins[] = {
    {KW_SENDKEY, fn_sendkey},
    {KW_SENDKEYSCHILD, fn_sendkeyschild},
    {KW_SENDKEYSTO, fn_sendkeysto},
    {KW_SENDKEYSTOW, fn_sendkeysto},
    {KW_SENDKEYW, fn_sendkey},
    {0, nullptr},
};
