// The keystroke settings and their IntControl requests. A fresh state is all
// zeros, so the defaults (25 ms, idle wait on, console handling on) are put in
// when a setting is first used.
#include "library/keys/keys_internal.h"
#include "library/core/intcontrol.h"

namespace keys {

void settings_ready(State* st) {
    if (st->keyReady) return;
    st->keyDelay = 25;
    st->keyIdleWait = 1;
    st->keyConsole = 1;
    st->keyReady = 1;
}

namespace {

// 43 and 45: 0 or 1 replaces the switch, other values only read it.
void switch_request(State* st, Cell* result, Cell* p, uint8_t* setting) {
    settings_ready(st);
    const int previous = *setting;
    const int value = ic_int(st, &p[0]);
    if (value == 0 || value == 1) *setting = static_cast<uint8_t>(value);
    ic_previous(st, result, previous);
}

}  // namespace

}  // namespace keys

void ic_key_delay(State* st, Cell* result, Cell* p) {
    keys::settings_ready(st);
    const int previous = st->keyDelay;
    const int value = ic_int(st, &p[0]);
    if (value >= 0) st->keyDelay = value;
    ic_previous(st, result, previous);
}

void ic_key_idle_wait(State* st, Cell* result, Cell* p) { keys::switch_request(st, result, p, &st->keyIdleWait); }

void ic_key_console(State* st, Cell* result, Cell* p) { keys::switch_request(st, result, p, &st->keyConsole); }
