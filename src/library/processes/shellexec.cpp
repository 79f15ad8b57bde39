// ShellExecute and ShellExecuteWait: hand a file (a program, a document, a
// folder, a web address) to the shell with a verb ("open", "edit", "print"...).
// The shell's own error boxes are suppressed: the script gets 0 instead.
#include "library/processes/proc_internal.h"
#include "errors.h"
#include <shellapi.h>

namespace proc {

namespace {

// ShellExecute's show commands: normal display is a plain show.
int shell_show(int display) {
    switch (display) {
    case DISPLAY_HIDDEN: return SW_HIDE;
    case DISPLAY_ICON: return SW_MINIMIZE;
    case DISPLAY_NORMAL: return SW_SHOW;
    case DISPLAY_ZOOMED: return SW_SHOWMAXIMIZED;
    case DISPLAY_NOACTIVATE: return SW_SHOWNOACTIVATE;
    default: return SW_SHOWNORMAL;
    }
}

const wchar_t* or_null(const wchar_t* s) { return s && *s ? s : nullptr; }

// ShellExecute (program, parameters, directory, display, operation) with or
// without waiting for the program the shell started.
void shell_execute(State* st, Cell* result, Cell* args, bool wait) {
    const std::wstring file = wide_arg(st, &args[1]);
    if (file.empty()) {
        st->err = 1449;
        return;
    }
    const std::wstring params = wide_arg(st, &args[2]), dir = wide_arg(st, &args[3]), verb = wide_arg(st, &args[5]);
    Started p;
    DWORD lastError = 0;
    if (wait) forget_exit_code(st);
    const uintptr_t code = shell_open(or_null(verb.c_str()), file.c_str(), params.c_str(), dir.c_str(),
                                      shell_show(args[4].i), wait ? &p : nullptr, &lastError);
    if (code <= 32) {
        // No error for the script: the result says it. The code is remembered.
        platform_error(st, "ShellExecuteExW", lastError ? lastError : static_cast<DWORD>(code), false);
        cell_set_int(st, result, 0);
        return;
    }
    if (wait && p.process) {
        if (wait_handle(st, p.process.get(), kNoTimeLimit) == Waited::Signaled) {
            DWORD exitCode;
            if (GetExitCodeProcess(p.process.get(), &exitCode)) store_exit_code(st, exitCode);
        }
    }
    cell_set_int(st, result, 1);
}

}  // namespace

uintptr_t shell_open(const wchar_t* verb, const wchar_t* file, const wchar_t* params, const wchar_t* dir, int show,
                     Started* out, DWORD* lastError) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | (out ? SEE_MASK_NOCLOSEPROCESS : 0);
    info.lpVerb = verb;
    info.lpFile = file;
    info.lpParameters = or_null(params);
    info.lpDirectory = or_null(dir);
    info.nShow = show;
    const BOOL ok = ShellExecuteExW(&info);
    *lastError = ok ? 0 : GetLastError();
    const uintptr_t code = reinterpret_cast<uintptr_t>(info.hInstApp);
    if (!ok && code > 32) return *lastError >= 1 && *lastError <= 32 ? *lastError : 1;   // refused without a code of its own
    if (out && info.hProcess) {
        out->process.reset(info.hProcess);
        out->id = GetProcessId(info.hProcess);
    }
    return ok && code <= 32 ? 33 : code;
}

}  // namespace proc

void fn_shellexecute(State* st, int, Cell* result, Cell* args, bool) { proc::shell_execute(st, result, args, false); }

void fn_shellexecutewait(State* st, int, Cell* result, Cell* args, bool) { proc::shell_execute(st, result, args, true); }
