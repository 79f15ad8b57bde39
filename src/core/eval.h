// Expression evaluation and the value conversions used everywhere.
#pragma once
#include "state.h"

extern "C" int ProcessSubExpression(State* st, Cell* result, int assignAllowed, int ptrMode, int extra);

// Operator application: left receives the result. Returns false with the error set.
bool apply_binary(State* st, uint32_t op, Cell* left, Cell* right);
bool compare_cells(State* st, uint32_t op, Cell* left, Cell* right, bool releaseStrings, bool nocase);

// In-place conversions; false with the error set (or the caller chooses the error).
bool conv_to_int(State* st, Cell* c, bool allowFloat, bool allowInt64);
bool conv_to_float(State* st, Cell* c);
bool conv_to_ansi(State* st, Cell* c);
bool conv_to_wide(State* st, Cell* c);

// Number to text by the Decimals setting; false with 1599 for a non-finite float.
bool number_text(State* st, const Cell* c, char* out, size_t size);
// Integer test of a text: sets *v and *is64; false if the text is not an integer.
bool text_is_integer(const char* s, bool allowInt64, int64_t* v, bool* is64);
// Float test of a text; false if not a number (1342 set on overflow).
bool text_is_float(State* st, const char* s, double* v);

// Process-wide floating-point fault slot (1341..1347), read and cleared after float work.
extern volatile int g_fpFault;
