// Pieces shared by the process functions: text arguments, the per-state
// settings, the launcher, the waits on processes and the process list.
// Private to src/library/processes.
#pragma once
#include "state.h"
#include "value.h"
#include <cstdint>
#include <string>
#include <vector>

namespace proc {

// ---- text arguments (textarg.cpp) ----------------------------------------------

// The text of a string argument as UTF-16, whichever form the dispatcher left
// it in (ANSI text is converted with the state's code page).
std::wstring wide_arg(State* st, const Cell* c);
// UTF-16 text in the state's ANSI code page (for details and boxes).
std::string ansi_text(State* st, const wchar_t* text);

// ---- settings (settings.cpp) -----------------------------------------------------

constexpr int32_t kNoExitCode = 99999;   // the last exit code before any program was waited for
constexpr DWORD   kIdleWaitDefault = 10000;
DWORD   idle_wait(const State* st);
int32_t last_exit_code(const State* st);
void    forget_exit_code(State* st);
void    store_exit_code(State* st, DWORD code);
bool    launch_sound(const State* st);

// ---- handles ------------------------------------------------------------------

// A kernel handle closed on every path.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { reset(); }
    Handle(Handle&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            reset();
            h_ = o.h_;
            o.h_ = nullptr;
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    void reset(HANDLE h = nullptr) {
        if (h_ && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = h;
    }
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ && h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_ = nullptr;
};

// ---- waits on processes (procwait.cpp) -------------------------------------------

enum class Waited { Signaled, TimedOut, Stopped, Failed };
constexpr uint64_t kNoTimeLimit = UINT64_MAX;

// Waits for a handle (a process ends) while the thread's messages keep being
// processed: when input arrives the messages are dispatched once, then the
// wait pauses 20 ms and resumes. Ends promptly on the state's stop request;
// `ms` bounds it (kNoTimeLimit: none). Failed records the failing call with
// platform_error (in the detail block); the caller sets the error number.
Waited wait_handle(State* st, HANDLE h, uint64_t ms);
// Waits up to `ms` milliseconds for a started program to be ready for input;
// returns at once for a program without a message loop and when it ends.
void wait_input_idle(State* st, HANDLE process, DWORD ms);
// A time-out in seconds as the App members take it: -1 none, below -1 the
// same as 0, at most one day.
uint64_t timeout_ms(int seconds);
// What is left of a wait of `ms` milliseconds that began at `start`
// (GetTickCount64); kNoTimeLimit stays so.
uint64_t time_left(uint64_t ms, ULONGLONG start);

// ---- the launcher (launcher.cpp, launchfail.cpp) ---------------------------------

// Display modes and wait modes as scripts write them.
enum : int { DISPLAY_HIDDEN = -1, DISPLAY_ICON = 1, DISPLAY_NORMAL = 2, DISPLAY_ZOOMED = 3, DISPLAY_NOACTIVATE = 4 };
enum : int { WAIT_NOWAIT = 33, WAIT_WAIT = 34, WAIT_GETPROCID = 35, WAIT_GETEXITCODE = 36 };

// The credentials of RunWithLogon.
struct Logon {
    std::wstring user, domain, password;
    DWORD flags;
};

struct LaunchRequest {
    std::wstring program;     // as the script wrote it
    std::wstring params;
    std::wstring directory;   // empty: the current directory
    int display = DISPLAY_NORMAL;
    int wait = WAIT_NOWAIT;
    const std::wstring* environment = nullptr;   // a whole environment block, or none (inherit)
    const Logon* logon = nullptr;                // start under another user
};

// The one launcher of the Run members. Stores the member's result (1, the
// process id or the exit code) and returns true; on failure returns false with
// the error set and its explanation in the detail block.
bool launch(State* st, const LaunchRequest& rq, Cell* result);
// The show command of a display mode for the launcher, or -1 for a bad mode.
int launcher_show(int display);

// A started process as the launcher and ShellExecuteWait hand it on.
struct Started {
    Handle process;
    DWORD  id = 0;
};
// What happens after a start: the input-idle wait, then the wait mode's own
// wait and result (the exit code is stored when the program was waited for).
void finish_start(State* st, Started& p, int waitMode, Cell* result);

// The error number of a failed start for a system error code, and its detail
// (heading 868, the system's text; the elevation advice for code 740).
uint16_t start_error_number(DWORD code);
void start_failed(State* st, DWORD code, const wchar_t* call, const std::wstring& target);
// The same for a start that the shell refused: its code (32 or below) by the
// old numbering (1900 + code for 0 to 11, 1933 for "no association", 1932
// otherwise), with the system's text for `lastError` as the detail.
void shell_failed(State* st, uintptr_t shellCode, DWORD lastError);

// ---- the shell (shellexec.cpp) ---------------------------------------------------

// Asks the shell to open `file`; fills `out` when it started a process that
// can be waited for. Returns the shell's code (above 32 is success) and leaves
// the system error code in *lastError.
uintptr_t shell_open(const wchar_t* verb, const wchar_t* file, const wchar_t* params, const wchar_t* dir,
                     int show, Started* out, DWORD* lastError);

// ---- registered programs (apppaths.cpp, association.cpp) -------------------------

// The registered application path of a program name without a directory:
// its full path and the folders to put in front of PATH ("" when none).
bool registered_path(const std::wstring& name, std::wstring* path, std::wstring* folders);
// PATH with `folders` in front of it while the object lives.
class PathPrefix {
public:
    explicit PathPrefix(const std::wstring& folders);
    ~PathPrefix();
    PathPrefix(const PathPrefix&) = delete;
    PathPrefix& operator=(const PathPrefix&) = delete;

private:
    bool         active_ = false;
    bool         hadPath_ = false;
    std::wstring old_;
};
// The command line that opens the data file `file` (a full path) with the
// program registered for its extension, and the parameters after it.
enum class Assoc { Found, None, Itself };   // Itself: the type's command is the file (a program)
Assoc association_command(const std::wstring& file, const std::wstring& params, std::wstring* command);

// ---- the process list (proclist.cpp) -----------------------------------------------

// Which processes a name argument names: a process id, the full path of the
// program file (a text with a folder), or a program file name ("notepad" also
// matches notepad.exe). In the Auto form (the App members) a text of digits
// is a process id.
class ProcessName {
public:
    enum Form { Auto, Program, Id };
    explicit ProcessName(std::wstring text, Form form = Auto);
    bool empty() const { return text_.empty(); }
    bool matches(DWORD id, const wchar_t* exeFile) const;

private:
    std::wstring text_;
    DWORD        id_ = 0;
    bool         byId_ = false;
    bool         byPath_ = false;
};
// The ids of the running processes that `name` names, in the system's order.
// False (1825, the failing call in the detail) when the list cannot be read.
bool find_processes(State* st, const ProcessName& name, std::vector<DWORD>* ids);
// Drops this process from a list: the script never waits for, nor ends, itself.
void without_self(std::vector<DWORD>* ids);

}  // namespace proc

// ---- the script functions (builtins.cpp lists them) ----------------------------------
void fn_runshell(State* st, int nargs, Cell* result, Cell* args, bool wide);
void fn_runenviron(State* st, int nargs, Cell* result, Cell* args, bool wide);
void fn_runexit(State* st, int nargs, Cell* result, Cell* args, bool wide);
void fn_runwithlogon(State* st, int nargs, Cell* result, Cell* args, bool wide);
void fn_runapp(State* st, int nargs, Cell* result, Cell* args, bool wide);
void fn_shellexecute(State* st, int nargs, Cell* result, Cell* args, bool wide);
void fn_shellexecutewait(State* st, int nargs, Cell* result, Cell* args, bool wide);
void fn_appexist(State* st, int nargs, Cell* result, Cell* args, bool wide);
void fn_appprocid(State* st, int nargs, Cell* result, Cell* args, bool wide);
void fn_appwaitclose(State* st, int nargs, Cell* result, Cell* args, bool wide);
void fn_terminateapp(State* st, int nargs, Cell* result, Cell* args, bool wide);
void fn_terminate(State* st, int nargs, Cell* result, Cell* args, bool wide);

// Run, RunWait, RunHide, RunHideWait, RunIcon, RunIconWait, RunZoom,
// RunZoomWait: (program, parameters) with a fixed display and wait mode.
void run_fixed(State* st, Cell* result, Cell* args, int display, int wait);
template <int Display, int Wait>
void fn_run_fixed(State* st, int, Cell* result, Cell* args, bool) {
    run_fixed(st, result, args, Display, Wait);
}
