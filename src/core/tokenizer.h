// The tokenizer reads one token at a time from State::prog.
#pragma once
#include "state.h"

enum : int32_t { TK_EOL = 0, TK_KEYWORD = 1, TK_VARIABLE = 2, TK_INTEGER = 3, TK_STRING = 4,
                 TK_FLOAT = 5, TK_MULTILINE = 6 };

// Returns 0 on failure (error set) and otherwise 1, or 1|2 when the token is a
// unary "&" (State::unaryAmp is set as well).
extern "C" int get_token(State* st);
extern "C" void putback(State* st);
extern "C" int get_string_token(State* st);   // 0 = nothing / error, 1 = a word read

// Percent substitution in place (line has LINE_BUF bytes): 1 nothing substituted,
// 2 something substituted, 0 error (3047, 3048, 3101).
int percent_subst(State* st, char* line);

// Reads a multi-line string constant whose "$\"" was just read as the current
// token; fetches further script lines through the executor's line source.
bool read_multiline(State* st, struct Cell* out);
