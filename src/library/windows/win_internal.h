// Pieces shared inside the window family: the settings, window ids, title
// matching, enumeration, the screen's virtual units and results. Private to
// src/library/windows.
#pragma once
#include "library/windows/windows.h"
#include "library/windows/winfuncs.h"
#include "value.h"
#include <functional>
#include <string>
#include <vector>

namespace win {

// ---- settings (winsettings.cpp) ---------------------------------------------
// Window wait (seconds), command delay and wait-done delay (milliseconds); the
// defaults (9, 100, 500) are put in on first use.
int wait_setting(State* st);
int command_delay(State* st);
int done_delay(State* st);

// ---- ids, titles and enumeration (winlookup.cpp) ----------------------------
constexpr size_t ID_LEN = 16;   // "#WIN$ID#" and eight hexadecimal digits
// "#WIN$ID#" plus the low 32 bits of the handle as eight upper-case hex digits.
std::wstring format_id(HWND h);
// True when `text` has the form of an id (16 characters, "#WIN$ID#" first);
// *h then receives the handle its digits spell, or nullptr when they are not
// hexadecimal. Whether that handle is a window is the caller's question.
bool parse_id(const wchar_t* text, HWND* h);
// The title rules: prefix (locale-aware, case-sensitive), "title~" whole title,
// "~text" anywhere, "~text~" at the end.
bool title_matches(const wchar_t* pattern, const wchar_t* title);
// Titles that lookups never match (empty, "WinOldAp").
bool title_ignored(const std::wstring& title);
// The title of a top-level window (the window manager's copy: never a message
// to a hung program).
std::wstring top_title(HWND h);
// The text of a child window (WM_GETTEXT with a time-out, so a hung program
// cannot stop the script; "" when it does not answer).
std::wstring child_text(HWND h);
// Top-level windows in Z order, front to back. False when the system could not
// enumerate them.
bool top_windows(std::vector<HWND>* out);
// Every descendant of a window, parents before their children.
std::vector<HWND> child_windows(HWND parent);
// One pass: the first top-level window whose title matches.
HWND find_top(const wchar_t* pattern);

// ---- waiting (winwait.cpp) ---------------------------------------------------
// Checks `done` every 250 ms for `timeout` seconds (-1 without limit, below -1
// once, above a day a day) through the interruptible wait. True when it
// held, false on time-out or a stop request.
bool wait_until(State* st, int timeout, const std::function<bool()>& done);

// ---- the screen in virtual units (winplace.cpp) -----------------------------
// Size of the primary screen in pixels.
struct Screen {
    int  cx, cy;
    bool multi;   // more than one monitor
};
Screen screen();
// Pixels to the 0..1000 units of `size` pixels (truncating).
int to_units(int px, int size);
// Stores a rectangle in the units of cx by cy pixels: "x1,y1,x2,y2" with `sep`
// between the numbers. False with 3096.
bool set_units(State* st, Cell* result, const RECT& r, int cx, int cy, wchar_t sep);

// The window an acting member works on: the title in `arg` looked up with
// the window-wait setting. False with `notFound` (or a conversion error) set.
bool acting_arg(State* st, Cell* arg, uint16_t notFound, Found* f);

// ---- results ------------------------------------------------------------------
// Stores wide text; false with 3096.
bool set_text(State* st, Cell* result, const std::wstring& s);
// Posts a system command (minimise, maximise, restore, close) to a window.
void post_syscommand(HWND h, WPARAM cmd);
// Posts a restore request and waits the command delay.
void restore(State* st, HWND h);
// Waits `ms` milliseconds with the interruptible wait (false: stopped).
bool pause(State* st, int ms);
// Processes the thread's pending messages `times` times.
void pump(State* st, int times);

}  // namespace win
