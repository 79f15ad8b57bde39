// The window family's settings and their IntControl requests. A fresh state
// is all zeros, so the defaults are put in when a setting is first used.
#include "library/windows/win_internal.h"
#include "library/core/intcontrol.h"

namespace win {

namespace {

void ready(State* st) {
    if (st->winReady) return;
    st->winWait = 9;
    st->winCmdDelay = 100;
    st->winDoneDelay = 500;
    st->winReady = 1;
}

// A setting request: a value of 0 or more replaces the setting.
void request(State* st, Cell* result, Cell* p, int32_t* setting) {
    const int previous = *setting;
    const int value = ic_int(st, &p[0]);
    if (value >= 0) *setting = value;
    ic_previous(st, result, previous);
}

}  // namespace

int wait_setting(State* st) { return ready(st), st->winWait; }
int command_delay(State* st) { return ready(st), st->winCmdDelay; }
int done_delay(State* st) { return ready(st), st->winDoneDelay; }

}  // namespace win

void ic_window_wait(State* st, Cell* result, Cell* p) {
    win::wait_setting(st);
    win::request(st, result, p, &st->winWait);
}

void ic_command_delay(State* st, Cell* result, Cell* p) {
    win::wait_setting(st);
    win::request(st, result, p, &st->winCmdDelay);
}

void ic_wait_done_delay(State* st, Cell* result, Cell* p) {
    win::wait_setting(st);
    win::request(st, result, p, &st->winDoneDelay);
}
