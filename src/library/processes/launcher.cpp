// The one launcher behind every Run member: checks the modes, finds the
// program (registered application paths, shortcuts, data files), starts it
// with the requested window state and waits as the wait mode asks.
#include "library/processes/proc_internal.h"
#include "errors.h"
#include <mmsystem.h>

namespace proc {

namespace {

// Display mode -> show command of the started program's first window.
struct ShowMode {
    int display;
    int show;
};
constexpr ShowMode kShowModes[] = {
    {DISPLAY_HIDDEN, SW_HIDE},
    {DISPLAY_ICON, SW_MINIMIZE},
    {DISPLAY_NORMAL, SW_SHOWNORMAL},
    {DISPLAY_ZOOMED, SW_SHOWMAXIMIZED},
    {DISPLAY_NOACTIVATE, SW_SHOWNOACTIVATE},
};

// Use the show command; force the busy-cursor feedback while the program starts.
constexpr DWORD kStartupFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;   // 65

std::wstring trimmed(const std::wstring& s) {
    const size_t a = s.find_first_not_of(L" \t");
    if (a == std::wstring::npos) return std::wstring();
    const size_t b = s.find_last_not_of(L" \t");
    return s.substr(a, b - a + 1);
}

// The program file a program text names: the text inside leading quotes, else all of it.
std::wstring bare_name(const std::wstring& program) {
    if (program.empty() || program[0] != L'"') return program;
    const size_t close = program.find(L'"', 1);
    return program.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
}

// The full path under which the system's path search finds `name`, or "".
std::wstring search_path(const std::wstring& name) {
    wchar_t found[MAX_PATH];
    const DWORD n = SearchPathW(nullptr, name.c_str(), nullptr, MAX_PATH, found, nullptr);
    return n > 0 && n < MAX_PATH ? std::wstring(found, n) : std::wstring();
}

bool has_extension(const std::wstring& path, const wchar_t* ext) {
    const size_t n = wcslen(ext);
    return path.size() > n && CompareStringOrdinal(path.c_str() + path.size() - n, -1, ext, -1, TRUE) == CSTR_EQUAL;
}

// A program written with a folder that does not exist is "path not found",
// whatever the system said about the file.
DWORD refine_not_found(DWORD code, const std::wstring& program) {
    if (code != ERROR_FILE_NOT_FOUND) return code;
    const size_t slash = program.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) return code;
    const std::wstring folder = program.substr(0, slash + 1);
    const DWORD attr = GetFileAttributesW(folder.c_str());
    return attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_PATH_NOT_FOUND : code;
}

std::wstring with_params(std::wstring cmd, const std::wstring& params) {
    if (!params.empty()) cmd += L" " + params;
    return cmd;
}

// One attempt to create the process for a whole command line: 0, or the
// system error code. *call names the creating function for the error record.
DWORD create(const LaunchRequest& rq, const std::wstring& command, int show, Started* out, const wchar_t** call) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = kStartupFlags;
    si.wShowWindow = static_cast<WORD>(show);
    std::wstring line = command;   // the system may write into the command line
    void* env = rq.environment ? const_cast<wchar_t*>(rq.environment->c_str()) : nullptr;
    const DWORD flags = env ? CREATE_UNICODE_ENVIRONMENT : 0;
    const wchar_t* dir = rq.directory.empty() ? nullptr : rq.directory.c_str();
    PROCESS_INFORMATION pi = {};
    BOOL ok;
    if (rq.logon) {
        *call = L"CreateProcessWithLogonW";
        wchar_t desktop[] = L"winsta0\\default";
        si.lpDesktop = desktop;
        const Logon& l = *rq.logon;
        ok = CreateProcessWithLogonW(l.user.c_str(), l.domain.empty() ? nullptr : l.domain.c_str(),
                                     l.password.c_str(), l.flags, nullptr, line.data(), flags, env, dir, &si, &pi);
    } else {
        *call = L"CreateProcessW";
        ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, env, dir, &si, &pi);
    }
    if (!ok) {
        const DWORD code = GetLastError();
        return code ? code : ERROR_GEN_FAILURE;
    }
    CloseHandle(pi.hThread);
    out->process.reset(pi.hProcess);
    out->id = pi.dwProcessId;
    return 0;
}

// Starts the program of a request; false with the error set.
bool start(State* st, const LaunchRequest& rq, int show, Started* out) {
    const std::wstring program = trimmed(rq.program);
    const bool quoted = !program.empty() && program[0] == L'"';
    const wchar_t* call = L"CreateProcessW";
    if (program.empty()) {
        start_failed(st, ERROR_FILE_NOT_FOUND, call, program);
        return false;
    }
    std::wstring path = program, folders;
    if (!quoted) registered_path(program, &path, &folders);
    PathPrefix pathPrefix(folders);

    const std::wstring found = search_path(bare_name(path));
    if (!rq.logon && has_extension(found, L".lnk")) {
        // A shortcut: only the shell knows how to follow it.
        DWORD lastError = 0;
        const uintptr_t code = shell_open(nullptr, found.c_str(), rq.params.c_str(), rq.directory.c_str(), show,
                                          out, &lastError);
        if (code > 32) return true;
        shell_failed(st, code, lastError);
        return false;
    }

    DWORD code = create(rq, with_params(quoted ? path : L"\"" + path + L"\"", rq.params), show, out, &call);
    if (code == ERROR_FILE_NOT_FOUND && !quoted) {
        // Let the system split an unquoted path with blanks ("c:\my tools\x.exe arg") itself.
        code = create(rq, with_params(path, rq.params), show, out, &call);
    }
    if (code == ERROR_BAD_EXE_FORMAT) {
        // Not a program: open it with the program registered for its type.
        std::wstring command;
        switch (association_command(found.empty() ? bare_name(path) : found, rq.params, &command)) {
        case Assoc::Found: code = create(rq, command, show, out, &call); break;
        case Assoc::None: code = ERROR_NO_ASSOCIATION; break;
        case Assoc::Itself: break;
        }
    }
    if (code == 0) return true;
    start_failed(st, refine_not_found(code, bare_name(path)), call, path);
    return false;
}

}  // namespace

int launcher_show(int display) {
    for (const ShowMode& m : kShowModes)
        if (m.display == display) return m.show;
    return -1;
}

void finish_start(State* st, Started& p, int waitMode, Cell* result) {
    const DWORD idle = idle_wait(st);
    if (p.process && idle) wait_input_idle(st, p.process.get(), idle);
    if (waitMode == WAIT_GETPROCID) {
        cell_set_int(st, result, static_cast<int32_t>(p.id));
        return;
    }
    if ((waitMode == WAIT_WAIT || waitMode == WAIT_GETEXITCODE) && p.process) {
        switch (wait_handle(st, p.process.get(), kNoTimeLimit)) {
        case Waited::Signaled: {
            DWORD code;
            if (GetExitCodeProcess(p.process.get(), &code)) store_exit_code(st, code);
            break;
        }
        case Waited::Failed:
            st->err = 1932;   // "WinExec: Function Failed", the failing wait in the detail
            return;
        default:              // stopped: the run ends after this statement; the exit code stays unknown
            break;
        }
    }
    cell_set_int(st, result, waitMode == WAIT_GETEXITCODE ? last_exit_code(st) : 1);
}

bool launch(State* st, const LaunchRequest& rq, Cell* result) {
    if (rq.wait < WAIT_NOWAIT || rq.wait > WAIT_GETEXITCODE) {
        st->err = 3383;
        return false;
    }
    const int show = launcher_show(rq.display);
    if (show < 0) {
        st->err = 3384;
        return false;
    }
    forget_exit_code(st);
    if (launch_sound(st) && rq.display != DISPLAY_HIDDEN)
        PlaySoundW(L"StartProgram", nullptr, SND_ALIAS | SND_ASYNC | SND_NODEFAULT);
    Started p;
    if (!start(st, rq, show, &p)) return false;
    finish_start(st, p, rq.wait, result);
    return st->err == 0;
}

}  // namespace proc
