// The Run members that start a program for the script: the fixed-mode ones
// (Run, RunWait, RunHide... through fn_run_fixed), RunShell with every choice,
// RunEnviron with the script's environment, and RunExit, which starts a
// program and ends the script.
#include "library/processes/proc_internal.h"

using namespace proc;

namespace {

LaunchRequest request(State* st, const Cell* program, const Cell* params) {
    LaunchRequest rq;
    rq.program = wide_arg(st, program);
    rq.params = wide_arg(st, params);
    return rq;
}

// The process's environment block as it is now (with the changes the script
// made), double-zero terminated.
std::wstring environment_block() {
    std::wstring block;
    wchar_t* env = GetEnvironmentStringsW();
    if (!env) return block;
    const wchar_t* p = env;
    while (*p) p += wcslen(p) + 1;
    block.assign(env, static_cast<size_t>(p - env) + 1);
    FreeEnvironmentStringsW(env);
    return block;
}

}  // namespace

void run_fixed(State* st, Cell* result, Cell* args, int display, int wait) {
    LaunchRequest rq = request(st, &args[1], &args[2]);
    rq.display = display;
    rq.wait = wait;
    launch(st, rq, result);
}

// RunShell (program, parameters, directory, display, wait)
void fn_runshell(State* st, int, Cell* result, Cell* args, bool) {
    LaunchRequest rq = request(st, &args[1], &args[2]);
    rq.directory = wide_arg(st, &args[3]);
    rq.display = args[4].i;
    rq.wait = args[5].i;
    launch(st, rq, result);
}

// RunEnviron (program, parameters, display, wait): the program gets a copy of
// the environment as the script has set it, taken at the moment of the start.
void fn_runenviron(State* st, int, Cell* result, Cell* args, bool) {
    LaunchRequest rq = request(st, &args[1], &args[2]);
    rq.display = args[3].i;
    rq.wait = args[4].i;
    const std::wstring env = environment_block();
    if (!env.empty()) rq.environment = &env;
    launch(st, rq, result);
}

// RunExit (program, parameters): starts the program like Run, then ends the
// script as Exit does. A start that fails is an error like any other.
void fn_runexit(State* st, int, Cell* result, Cell* args, bool) {
    LaunchRequest rq = request(st, &args[1], &args[2]);
    if (launch(st, rq, result)) st->err = 9000;
}
