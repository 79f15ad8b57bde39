// The keystroke family: SendKey, SendKeyW, SendKeysTo, SendKeysToW and
// SendKeysChild turn key strings (keystring.h) into keyboard input for the
// window with the focus. See docs/keys.md.
#pragma once
#include "state.h"

struct BuiltinEntry;
extern const BuiltinEntry g_keyBuiltins[];

// IntControl 35: milliseconds after each key (a negative value only reads);
// 43: wait until the foreground program is idle before keys (0 or 1);
// 45: special handling of console windows (0 or 1). Other values of 43 and
// 45 only read. Each returns the previous value.
void ic_key_delay(State* st, Cell* result, Cell* p);
void ic_key_idle_wait(State* st, Cell* result, Cell* p);
void ic_key_console(State* st, Cell* result, Cell* p);
