// What the rest of the library sees of the process functions: their IntControl
// requests (the table of built-in functions is listed in core/families.cpp).
#pragma once
#include "state.h"

// 140: milliseconds to wait for a started program to be ready for input (0: do not wait).
void ic_idle_wait(State* st, Cell* result, Cell* p);
// 141: the exit code of the last program waited for (99999 before any, and while one runs).
void ic_last_exit_code(State* st, Cell* result, Cell* p);
// 142: the launch sound, 0 off (the default) or 1 on.
void ic_launch_sound(State* st, Cell* result, Cell* p);
