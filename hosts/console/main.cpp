// kel.exe: runs one KEL script in a console. It loads CXDXA64I.dll next to
// itself and drives it through the exported entry points only.
#include <windows.h>
#include <string>
#include "engine.h"
#include "host_functions.h"
#include "options.h"
#include "report.h"
#include "run_status.h"
#include "script_file.h"
#include "streams.h"

#ifndef KEL_VERSION
#define KEL_VERSION "1.0.0"
#endif

namespace {

Engine* g_engine = nullptr;
volatile LONG g_breaks = 0;

// Ctrl+C or Ctrl+Break asks the running script to stop at its next statement;
// a second one ends the process the usual way.
BOOL WINAPI on_break(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    if (InterlockedIncrement(&g_breaks) > 1 || !g_engine) return FALSE;
    g_engine->services(KEL_SVC_STOP, nullptr, nullptr, 0, 0);
    return TRUE;
}

int fail(int status, const std::wstring& message)
{
    std_err().write_line(L"kel: " + message);
    return status;
}

// The script's full path in the ANSI code page, as the library keeps file
// names; a path that has no ANSI spelling falls back to its short form.
std::string ansi_path(const std::wstring& path)
{
    wchar_t full[MAX_PATH * 4];
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    std::wstring p = (n > 0 && n < MAX_PATH * 4) ? std::wstring(full, n) : path;
    BOOL lossy = FALSE;
    int len = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, p.c_str(), -1, nullptr, 0, nullptr, &lossy);
    if (lossy) {
        wchar_t shortp[MAX_PATH * 4];
        DWORD s = GetShortPathNameW(p.c_str(), shortp, MAX_PATH * 4);
        if (s > 0 && s < MAX_PATH * 4) p.assign(shortp, s);
        len = WideCharToMultiByte(CP_ACP, 0, p.c_str(), -1, nullptr, 0, nullptr, nullptr);
    }
    std::string out(len > 0 ? len - 1 : 0, '\0');
    if (len > 1) WideCharToMultiByte(CP_ACP, 0, p.c_str(), -1, out.data(), len, nullptr, nullptr);
    return out;
}

// Hands the arguments to the library's parameter splitter: 8-bit text when
// every argument has an ANSI spelling, wide text otherwise.
void set_params(Engine& engine, const std::vector<std::wstring>& args)
{
    std::wstring params = quote_params(args);
    BOOL lossy = FALSE;
    int len = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, params.c_str(), -1, nullptr, 0, nullptr, &lossy);
    if (!lossy && len > 0) {
        std::string a(len, '\0');
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, params.c_str(), -1, a.data(), len, nullptr, nullptr);
        engine.services(KEL_SVC_PARAMS, a.data(), nullptr);
    } else {
        engine.services(KEL_SVC_PARAMS, nullptr, params.data());
    }
}

// A launcher that starts kel.exe through layers that may hide how it ended
// (Wine reports a program whose session was torn down as a success) names a
// file in KEL_STATUS_FILE; kel.exe writes its exit status there as its last
// act, so a missing file means the program did not finish.
void write_status_file(int status)
{
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableW(L"KEL_STATUS_FILE", path, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) return;
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    char text[16];
    int len = wsprintfA(text, "%d\n", status);
    DWORD written = 0;
    WriteFile(f, text, (DWORD)len, &written, nullptr);
    CloseHandle(f);
}

} // namespace

static int run(int argc, wchar_t** argv)
{
    Options opt = parse_options(argc, argv);
    switch (opt.action) {
    case Options::Help:
        std_out().write_text(kUsageText);
        return 0;
    case Options::Version:
        std_out().write_line(L"kel " KEL_VERSION L" (interface version 0x13)");
        return 0;
    case Options::UsageError:
        fail(2, opt.error);
        std_err().write_line(L"Usage: kel [options] script [args...]   (kel --help for more)");
        return 2;
    case Options::Run:
        break;
    }

    std::wstring error;
    GlobalBlock script = load_script(opt.script, error);
    if (!script) return fail(2, L"cannot read script '" + opt.script + L"': " + error);

    Engine engine;
    if (!engine.load(error)) return fail(1, error);
    std::string name = ansi_path(opt.script);
    if (!engine.create(name.c_str(), error)) return fail(1, error);

    if (!opt.dialogs)
        engine.services(KEL_SVC_REPORTER, reinterpret_cast<void*>(&print_report), nullptr);
    set_params(engine, opt.args);
    if (!opt.trace.empty() &&
        !engine.services(KEL_SVC_TRACE, nullptr, const_cast<wchar_t*>(opt.trace.c_str()), 0, 1))
        return fail(1, L"cannot write the trace to '" + opt.trace + L"'");

    g_engine = &engine;
    SetConsoleCtrlHandler(on_break, TRUE);
    RunOutcome outcome;
    outcome.started = engine.run(script.get(), host_function_table(),
                                 (uint64_t)(uintptr_t)&host_entry) != 0;
    outcome.lastError = (uint32_t)engine.services(KEL_SVC_LASTERROR);
    SetConsoleCtrlHandler(on_break, FALSE);
    g_engine = nullptr;
    return exit_status(outcome);
}

int wmain(int argc, wchar_t** argv)
{
    int status = run(argc, argv);
    write_status_file(status);
    return status;
}
