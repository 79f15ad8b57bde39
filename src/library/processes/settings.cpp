// The settings of the process functions and their IntControl requests.
// A zeroed state block means the defaults (input-idle wait 10000 ms, no exit
// code yet, launch sound off), so the state's initialisation needs nothing.
#include "library/processes/processes.h"
#include "library/core/intcontrol.h"
#include "library/processes/proc_internal.h"

namespace proc {

DWORD idle_wait(const State* st) { return st->procIdleWaitSet ? static_cast<DWORD>(st->procIdleWait) : kIdleWaitDefault; }

int32_t last_exit_code(const State* st) { return st->procExitKnown ? st->procExitCode : kNoExitCode; }

void forget_exit_code(State* st) { st->procExitKnown = 0; }

void store_exit_code(State* st, DWORD code) {
    st->procExitCode = static_cast<int32_t>(code);
    st->procExitKnown = 1;
}

bool launch_sound(const State* st) { return st->procLaunchSound != 0; }

}  // namespace proc

// A negative value only reads the setting.
void ic_idle_wait(State* st, Cell* result, Cell* p) {
    const int64_t previous = proc::idle_wait(st);
    const int ms = ic_int(st, &p[0]);
    if (ms >= 0) {
        st->procIdleWait = ms;
        st->procIdleWaitSet = 1;
    }
    ic_previous(st, result, previous);
}

void ic_last_exit_code(State* st, Cell* result, Cell*) { ic_previous(st, result, proc::last_exit_code(st)); }

// 0 or 1 sets the switch; any other value only reads it.
void ic_launch_sound(State* st, Cell* result, Cell* p) {
    const int64_t previous = st->procLaunchSound;
    const int on = ic_int(st, &p[0]);
    if (on == 0 || on == 1) st->procLaunchSound = static_cast<uint8_t>(on);
    ic_previous(st, result, previous);
}
