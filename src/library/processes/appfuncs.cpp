// The process queries by name: AppExist, AppProcId and AppWaitClose. A name
// is a program file name ("notepad.exe", or "notepad"), a full path, or a
// process id (ProcessName).
#include "library/processes/proc_internal.h"
#include "errors.h"
#include "wait.h"
#include <algorithm>
#include <cwchar>

using namespace proc;

namespace {

constexpr DWORD kPollMs = 250;   // between two looks at the process list

// The optional flags (args[2]) and time-out in seconds (args[3]).
bool options(State* st, int nargs, const Cell* args, int maxFlags, int defaultTimeout, int* flags, uint64_t* ms) {
    *flags = nargs >= 2 ? args[2].i : 0;
    if (*flags < 0 || *flags > maxFlags) {
        st->err = 1822;   // "Invalid flag(s)"
        return false;
    }
    *ms = timeout_ms(nargs >= 3 ? args[3].i : defaultTimeout);
    return true;
}

// Looks for the processes of a name until at least one runs or the time is up.
bool look_for(State* st, const ProcessName& name, uint64_t ms, std::vector<DWORD>* ids) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (!find_processes(st, name, ids)) return false;
        const uint64_t rest = time_left(ms, start);
        if (!ids->empty() || rest == 0) return true;
        if (!wait_interruptible(st, static_cast<DWORD>(std::min<uint64_t>(rest, kPollMs)))) return true;
    }
}

// The arguments of AppExist and AppProcId (name [, flags [, time-out = 0]])
// and the processes they find.
bool query(State* st, int nargs, const Cell* args, int* flags, std::vector<DWORD>* ids) {
    uint64_t ms;
    return options(st, nargs, args, 1, 0, flags, &ms) && look_for(st, ProcessName(wide_arg(st, &args[1])), ms, ids);
}

bool still_runs(State* st, DWORD id) {
    std::vector<DWORD> ids;
    return find_processes(st, ProcessName(std::to_wstring(id)), &ids) && !ids.empty();
}

// Waits until none of the processes runs any more.
Waited wait_all_end(State* st, const std::vector<DWORD>& ids, ULONGLONG start, uint64_t ms) {
    for (DWORD id : ids) {
        Handle h(OpenProcess(SYNCHRONIZE, FALSE, id));
        if (h) {
            const Waited w = wait_handle(st, h.get(), time_left(ms, start));
            if (w != Waited::Signaled) return w;
            continue;
        }
        if (GetLastError() == ERROR_INVALID_PARAMETER) continue;   // gone already
        // A process this user may not wait on: watch the process list instead.
        while (still_runs(st, id)) {
            const uint64_t rest = time_left(ms, start);
            if (rest == 0) return Waited::TimedOut;
            if (!wait_interruptible(st, static_cast<DWORD>(std::min<uint64_t>(rest, kPollMs)))) return Waited::Stopped;
        }
        if (st->err) return Waited::Failed;
    }
    return Waited::Signaled;
}

}  // namespace

// AppExist (name [, flags = 0 [, timeout = 0]]): 1 when a process of that
// name runs, else 0; flag 1 gives the number of such processes instead. The
// time-out (seconds, -1 no limit) keeps looking until one has started.
void fn_appexist(State* st, int nargs, Cell* result, Cell* args, bool) {
    int flags;
    std::vector<DWORD> ids;
    if (!query(st, nargs, args, &flags, &ids)) return;
    const size_t n = ids.size();
    cell_set_int(st, result, flags ? static_cast<int32_t>(std::min<size_t>(n, INT32_MAX)) : n > 0);
}

// AppProcId (name [, flags = 0 [, timeout = 0]]): the id of the first process
// of that name, 0 when none runs; flag 1 gives the ids of all of them as a
// tab-delimited list. The time-out works as in AppExist.
void fn_appprocid(State* st, int nargs, Cell* result, Cell* args, bool) {
    int flags;
    std::vector<DWORD> ids;
    if (!query(st, nargs, args, &flags, &ids)) return;
    if (!flags) {
        cell_set_int(st, result, ids.empty() ? 0 : static_cast<int32_t>(ids.front()));
        return;
    }
    std::string list;
    for (DWORD id : ids) {
        if (!list.empty()) list += '\t';
        list += std::to_string(id);
    }
    cell_set_str(st, result, list.c_str(), list.size());
}

// AppWaitClose (name [, flags = 0 [, timeout = -1]]): waits until no process
// of that name runs (1), or the time-out in seconds passed (0). With flag 1
// only the processes running at the call count; otherwise one that starts
// meanwhile is waited for too.
void fn_appwaitclose(State* st, int nargs, Cell* result, Cell* args, bool) {
    int flags;
    uint64_t ms;
    if (!options(st, nargs, args, 1, -1, &flags, &ms)) return;
    const ProcessName name(wide_arg(st, &args[1]));
    const ULONGLONG start = GetTickCount64();
    std::vector<DWORD> ids;
    for (;;) {
        if (!find_processes(st, name, &ids)) return;
        without_self(&ids);
        if (ids.empty()) break;
        const Waited w = wait_all_end(st, ids, start, ms);
        if (w == Waited::Failed) {
            if (!st->err) st->err = 1825;
            return;
        }
        if (w != Waited::Signaled) {
            cell_set_int(st, result, 0);
            return;
        }
        if (flags) break;
    }
    cell_set_int(st, result, 1);
}
