// IntControl: one built-in function of numbered requests that read and change
// settings of the interpreter state. Each request is one row of the table in
// intcontrol.cpp; the module that owns a setting writes the request's function
// and declares it in its own header, then adds its row to that table.
#pragma once
#include "state.h"

// p[0..3] are the four parameters after the request number, as the script
// wrote them (any type). A setting request returns its previous value as text.
typedef void (*IntControlFn)(State* st, Cell* result, Cell* p);
struct IntControlEntry {
    int          request;
    IntControlFn fn;
};

// Helpers for request functions.
// A parameter as an integer (0 when it is not a number).
int ic_int(State* st, const Cell* c);
// A parameter as ANSI text into out ("" when it cannot be converted).
void ic_text(State* st, const Cell* c, char* out, size_t size);
// The result of a setting request: its previous value as text.
void ic_previous(State* st, Cell* result, int64_t previous);
