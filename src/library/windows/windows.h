// The window family: finding top-level and child windows by partial title or
// window id, waiting for them, and acting on them. See docs/windows.md.
//
// What the rest of the library sees: the function table, the IntControl
// requests of the family's settings, and the lookup and activation that the
// keystroke functions share (SendKeysTo, SendKeysChild).
#pragma once
#include "state.h"
#include <string>

struct BuiltinEntry;
extern const BuiltinEntry g_windowBuiltins[];

// IntControl 130 (window wait, seconds), 131 (command delay, milliseconds) and
// 132 (wait-done delay, milliseconds): a value of 0 or more sets the setting,
// any other value only reads it. Each returns the previous value.
void ic_window_wait(State* st, Cell* result, Cell* p);
void ic_command_delay(State* st, Cell* result, Cell* p);
void ic_wait_done_delay(State* st, Cell* result, Cell* p);

namespace win {

// A text argument (a title, a key string) as wide text: wide arguments as they
// are, anything else converted with the state's code page. False with 3820
// (or 3096) set.
bool text_arg(State* st, Cell* c, std::wstring* out);

// A window named by a title argument: the host window for the empty title, a
// window id, or the first top-level window whose title matches.
struct Found {
    HWND hwnd = nullptr;
    bool host = false;    // the empty title: the host's own window
    explicit operator bool() const { return hwnd != nullptr; }
};
// Looks the title up, retrying `wait` more times one second apart (the
// interruptible wait; a stop request ends the retries).
Found lookup(State* st, const wchar_t* title, int wait);
// The lookup of the acting members: retries for the window-wait setting; when
// nothing is found, sets `notFound` as the error.
Found find_acting(State* st, const wchar_t* title, uint16_t notFound);

// Joins the input of this thread to another thread's for as long as it lives:
// this thread may then change the foreground window and the focus there, and
// reads that thread's keyboard state (lock keys) with GetKeyState.
class InputJoin {
public:
    explicit InputJoin(DWORD otherThread);
    ~InputJoin();
    InputJoin(const InputJoin&) = delete;
    InputJoin& operator=(const InputJoin&) = delete;

private:
    DWORD me_, other_;
    bool  joined_;
};

// Brings a window of any process to the foreground (restoring it when it is
// minimised, and preferring its last active pop-up such as a modal dialog).
void activate(State* st, const Found& f);

// A child window of `parent` (any depth) named by the child title rules;
// nullptr when there is none.
HWND find_child(HWND parent, const wchar_t* title);
// Gives the keyboard focus to a window of another thread.
bool focus_window(HWND h);
// Whether a window belongs to a console (the console host's window classes).
bool is_console(HWND h);

}  // namespace win
