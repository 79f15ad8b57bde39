// TerminateApp: ends processes named by a program name or a process id.
#include "library/processes/proc_internal.h"
#include "errors.h"

using namespace proc;

namespace {

constexpr DWORD kGoneWaitMs = 5000;   // how long to wait for the ended processes to be gone

// What the name argument is.
enum : int { KIND_PROGRAM = 1, KIND_ID = 2 };

// The processes that the name of a kind names.
bool named_processes(State* st, const std::wstring& name, int kind, std::vector<DWORD>* ids) {
    switch (kind) {
    case KIND_PROGRAM: return find_processes(st, ProcessName(name, ProcessName::Program), ids);
    case KIND_ID: return find_processes(st, ProcessName(name, ProcessName::Id), ids);
    default:
        st->err = 1824;   // "Invalid value"
        return false;
    }
}

}  // namespace

// TerminateApp (name, kind, flags): kind 1, a program file name or full path;
// kind 2, a process id. Flags 0 end the first process that matches, 1 every
// one. The script's own process is never ended. Returns how many processes
// were ended, after waiting up to 5 seconds for them to be gone. When
// processes matched but none could be ended: 1825, the failing call in the
// detail.
void fn_terminateapp(State* st, int, Cell* result, Cell* args, bool) {
    const int kind = args[2].i, flags = args[3].i;
    if (flags != 0 && flags != 1) {
        st->err = 1822;   // "Invalid flag(s)"
        return;
    }
    std::vector<DWORD> ids;
    if (!named_processes(st, wide_arg(st, &args[1]), kind, &ids)) return;
    without_self(&ids);
    std::vector<Handle> ended;
    DWORD failure = 0;
    const char* failedCall = nullptr;
    for (DWORD id : ids) {
        Handle h(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (!h) {
            if (GetLastError() == ERROR_INVALID_PARAMETER) continue;   // it ended meanwhile
            failure = GetLastError(), failedCall = "OpenProcess";
        } else if (!TerminateProcess(h.get(), 0)) {
            failure = GetLastError(), failedCall = "TerminateProcess";
        } else {
            ended.push_back(std::move(h));
            if (flags == 0) break;
        }
    }
    if (ended.empty() && failedCall) {
        platform_error(st, failedCall, failure);
        st->err = 1825;   // "Function failed"
        return;
    }
    const ULONGLONG start = GetTickCount64();
    for (const Handle& h : ended)
        if (wait_handle(st, h.get(), time_left(kGoneWaitMs, start)) != Waited::Signaled) break;
    cell_set_int(st, result, static_cast<int32_t>(ended.size()));
}
