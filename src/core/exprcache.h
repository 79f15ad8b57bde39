// Compiled expressions: an expression of a cached line, met a second time,
// is turned into a short program over a stack of cells, so that the next runs
// need neither the tokenizer nor the recursive descent.
//
// Only expressions whose evaluation has no effect but its value qualify:
// number, string and @ constants, plain variables (no subscripts, pointers or
// objects), parentheses, the unary operators ! - + ~ and every binary
// operator, optionally as the right side of an assignment to a plain variable
// ("=" or a compound operator). Anything else (function calls, subscripts,
// "&", floating-point literals, multi-line strings) keeps the ordinary path.
//
// The program computes with the evaluator's own operations (apply_binary,
// apply_unary, var_read, ref_store), in the order the evaluator would. When
// something would not go the ordinary way (a variable missing or without a
// value, an operator that fails, memory that cannot be had) the program stops
// before any effect, restores the error state and lets the ordinary path run
// the expression from its first token: errors, details and the creation of
// variables come from the ordinary path alone. After a compiled run the token
// after the expression is read as the ordinary path would read it.
#pragma once
#include "state.h"

// Evaluates the expression whose first token is current, when it has a
// compiled form (compiling it on its second run). Returns 1 with `result` set
// and the token after the expression current (2: the same, with `result`
// lent, see EXPR_LEND), or -1: take the ordinary path (nothing happened).
// What the caller does with the value (bits of `uses`):
// EXPR_VALUE_UNUSED: it drops it unless the trace is on (a statement), so an
//   assignment may move it into its variable and leave INT 0 in `result`
//   while the trace is off;
// EXPR_NUMBER: it turns it into a number at once (a For limit), so a lone
//   variable holding integer text may give the number without a copy of the
//   text;
// EXPR_LEND: it only reads the value before any variable can change (an
//   argument of a built-in that reads its text arguments), so a lone variable
//   holding ANSI text may give a cell sharing the variable's string handle
//   (return value 2). The caller must not free that handle;
// EXPR_COMPILED_ONLY: an expression without a compiled form is not read at
//   all (-1), and its site does not count the run.
enum : unsigned { EXPR_VALUE_UNUSED = 1, EXPR_NUMBER = 2, EXPR_LEND = 4, EXPR_COMPILED_ONLY = 8 };
int expr_cached(State* st, Cell* result, bool assignAllowed, unsigned uses = 0);
