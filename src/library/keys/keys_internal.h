// Pieces shared inside the keystroke family. Private to src/library/keys.
#pragma once
#include "library/keys/keys.h"
#include "library/keys/keystring.h"

namespace keys {

// Puts in the defaults of the settings on first use (keysettings.cpp).
void settings_ready(State* st);

// How the keys of one call reach the system.
struct Delivery {
    HKL  layout;    // keyboard layout that maps characters to keys
    bool console;   // console mode: no message processing around the events
};

// Sends every repetition of one step (inject.cpp). False when a stop request
// ended it between repetitions.
bool send_step(State* st, const KeyStep& step, const Delivery& d);

// Sends a whole key string to whatever has the focus, paced by `delayMs`
// after each step (sendkey.cpp). 0 when it was sent to its end, -1 when it
// stopped at an unclosed brace or an unknown name.
int send_string(State* st, const wchar_t* text, int delayMs);

}  // namespace keys
