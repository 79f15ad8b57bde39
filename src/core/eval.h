// Expression evaluation and the value conversions used everywhere.
//
// The evaluator is a recursive-descent parser with one routine per precedence
// level that computes as it parses: no tree is built, each operator is applied
// as soon as its right operand is read and every temporary cell is released
// right after use.
#pragma once
#include "state.h"
#include "keyword_ids.h"
#include "value.h"
#include <string>

// ---------------------------------------------------------------------------
// ProcessSubExpression: evaluates one expression into `result`.
//
// Token convention:
//   on entry  the FIRST token of the expression has already been read
//             (the caller called get_token; it is st->delimType / st->tok /
//             st->token);
//   on exit   the first token NOT consumed by the expression is current
//             (end of line, ")", ",", "]", `then`, `to`, `by`, or a stray
//             token the caller must judge).
// Returns 1 on success and 0 on failure, with st->err set. `result` is
// overwritten (it is not released first: pass a fresh or released cell); on
// failure it holds INT 0 and nothing else, and every temporary is released.
//
// assignAllowed: non-zero when the expression may be an assignment (statement
//   level). A variable followed by "=" or a compound operator is then an
//   assignment and `result` also receives the assigned value. With zero (If
//   conditions, function arguments, subscripts) such an operator is 3069.
//   An assignment operator left over after a complete expression ("1 = a") is
//   3069 in either case, with the hint "To compare two values, use == instead".
// ptrMode: non-zero when the statement began with a "*" that the executor
//   stepped over: the current token names the variable that HOLDS a variable
//   pointer, and an assignment stores into the pointed-to variable (or into an
//   element of it when "[" follows). Without an assignment the expression starts
//   with the pointed-to value. (A "*" met as an ordinary token is the unary
//   dereference operator and needs no flag.)
// extra: reserved, pass 0.
//
// Tokens after an assignment are NOT checked here: the statement executor checks
// that the statement ended (3074 with detail 9505, or 9518 before "["), for
// assignments and plain expression statements alike.
//
// Function calls: the dispatcher is called while ")" is current; the token after
// ")" is read only after it returns. Code that runs script lines meanwhile
// (user-defined functions, callbacks, Call) must restore st->line and st->prog
// before returning to the dispatcher.
extern "C" int ProcessSubExpression(State* st, Cell* result, int assignAllowed, int ptrMode, int extra);

// An expression statement: ProcessSubExpression with assignments allowed, for a
// caller that uses `result` only for the trace (an assignment may then move
// its value into the variable and leave INT 0 while the trace is off).
int statement_expression(State* st, Cell* result, int ptrMode);

// An expression whose value the caller turns into a number at once
// (ProcessSubExpression without assignments otherwise).
int number_expression(State* st, Cell* result);

// The evaluator's operator tables, for the compiled expressions (exprcache.h):
// the precedence level (2..9) of a binary operator token (0 for any other
// token); whether a token is an assignment operator, with the binary operator
// a compound form applies in *base (0 for "="); the value of an @ constant.
int op_binary_level(uint32_t tok);
bool op_assignment(uint32_t tok, uint32_t* base);
bool constant_value(State* st, uint32_t id, Cell* out);

// Sets the evaluator's fields of a new state (Decimals -1). Called by the host
// entry when it initialises a state.
void eval_state_init(State* st);

// Decimals: stores the clamped setting (above 8 -> 8, below -3 -> -1) and returns
// the previous one.
int set_decimals(State* st, int d);

// ---------------------------------------------------------------------------
// Operators.
//
// apply_binary takes ownership of both cells: `left` receives the result (a
// bare value: slot 65535, level -1); `right` is released. On failure (error
// set) both are released and `left` is INT 0. Comparison operators go to
// compare_cells, ":" to concatenation; any binary or assignment-base operator
// token (KW_OP_PLUS ... KW_MOD, KW_OP_CONCAT, comparisons) is accepted.
bool apply_binary(State* st, uint32_t op, Cell* left, Cell* right);

// apply_binary for the bulk of a script's arithmetic, two plain 32-bit
// integers under + - * / mod or a comparison, without the call; false (nothing
// changed) for anything else.
inline bool apply_binary_quick(uint32_t op, Cell* left, Cell* right) {
    if (left->type != TW_INT || right->type != TW_INT) return false;
    const int32_t a = left->i, b = right->i;
    const uint32_t ua = static_cast<uint32_t>(a), ub = static_cast<uint32_t>(b);
    int32_t v;
    switch (op) {   // integers wrap around
    case KW_OP_PLUS:  v = static_cast<int32_t>(ua + ub); break;
    case KW_OP_MINUS: v = static_cast<int32_t>(ua - ub); break;
    case KW_OP_STAR:  v = static_cast<int32_t>(ua * ub); break;
    case KW_OP_DIV:
    case KW_MOD:      // a zero divisor is an error and -1 a special case: the full path has both
        if (b == 0 || b == -1) return false;
        v = op == KW_OP_DIV ? a / b : a % b;
        break;
    case KW_OP_EQ:    v = a == b; break;
    case KW_OP_NE:
    case KW_OP_NE2:   v = a != b; break;
    case KW_OP_LT:    v = a < b; break;
    case KW_OP_LE:    v = a <= b; break;
    case KW_OP_GT:    v = a > b; break;
    case KW_OP_GE:    v = a >= b; break;
    default: return false;
    }
    cell_init(left, v);
    cell_init(right, 0);
    return true;
}

// Compares by the mode the two kinds select (integer, 64-bit, float, long
// text, locale-aware text; nocase uses the case-insensitive comparison) and
// stores INT 1 or 0 in `left`. The cells are only read. With releaseStrings
// both cells are released first (they were temporaries); without it `left` is
// overwritten without being released (the caller still owns whatever strings it
// referred to, e.g. a shallow copy of a variable) and `right` is left as it was.
// False with the error set (3057 arrays/objects, 3063 not a comparison, 1599).
bool compare_cells(State* st, uint32_t op, Cell* left, Cell* right, bool releaseStrings, bool nocase);

// The order of two values as the relational operators see it (the mode their
// kinds select; floats by their difference, as `<` compares them): *cmp is
// -1, 0 or 1. The cells are only read (array elements may be passed). False
// with the error set (3057 arrays and objects, 1599).
bool compare_order(State* st, const Cell* a, const Cell* b, bool nocase, int* cmp);

// Unary operator (KW_OP_NOT, KW_OP_MINUS, KW_OP_PLUS, KW_OP_TILDE) applied in
// place; strings are converted to numbers first. False with the error set, the
// cell then released to INT 0.
bool apply_unary(State* st, uint32_t op, Cell* c);

// ---------------------------------------------------------------------------
// Conversions, in place. On success the cell holds only the new kind (slot and
// level are kept). On failure the cell is unchanged and false is returned:
// st->err is left untouched when the value simply is not convertible (the
// caller chooses 3057 / 3056 / 3820 / 3340 ...) and is set only for a fault of
// its own (1342 float overflow in a text, 1599 non-finite float text, 3096
// out of string memory).
//
// conv_to_int: INT stays; INT64 stays when allowInt64, else keeps its low 32
// bits; FLOAT (only with allowFloat): magnitude above 2147483645.0 becomes
// INT64 (rounded half away from zero) when allowInt64 and it is at most 2^63,
// else fails; smaller values round half away from zero to INT. Text: integer
// test first (64-bit when allowed), then with allowFloat the float test and the
// float rule. A VARIANT is converted through its automation value.
bool conv_to_int(State* st, Cell* c, bool allowFloat, bool allowInt64);
bool conv_to_float(State* st, Cell* c);
bool conv_to_ansi(State* st, Cell* c);    // numbers by the Decimals setting; UNICODE by st->codePage
bool conv_to_wide(State* st, Cell* c);
// Number (INT, INT64, FLOAT; VARIANT numbers; numeric text) in place: integer
// preferred (64-bit allowed), else float. False when not a number.
bool conv_to_number(State* st, Cell* c);

// Number to text by the Decimals setting; false with 1599 for a non-finite float
// (also false, no error, for a cell that is not a number).
bool number_text(State* st, const Cell* c, char* out, size_t size);
bool float_text(State* st, double v, char* out, size_t size);
int  int64_text(int64_t v, char* out);    // decimal; returns the length
// Integer test of a text: sets *v and *is64; false if the text is not an integer.
// Without allowInt64 the digits wrap in 32 bits and *is64 is false.
bool text_is_integer(const char* s, bool allowInt64, int64_t* v, bool* is64);
// Float test of a text (the whole text must be a decimal number; "d"/"D",
// hexadecimal, "inf" and "nan" are refused); false if not a number. Overflow
// sets 1342 and returns false; underflow gives 0.0.
bool text_is_float(State* st, const char* s, double* v);
// Float to integer by the rules of conv_to_int; false when it does not fit.
bool float_to_int(double f, bool allowInt64, int64_t* v, bool* is64);

// ---------------------------------------------------------------------------
// Floating-point faults. The math library's error callback (installed when the
// library loads) stores 1341..1347 here and makes the failing function return
// 1.0 (0.0 for an underflow, which records nothing). Float work reads and clears
// it right after each operation; the dispatcher after each call.
extern volatile int g_fpFault;
// Returns the pending fault (0 none) and clears it.
int fp_take_fault();
// Raises a pending fault or a float result out of range: fault -> its number;
// NaN -> 1341; magnitude above 1e300 -> 1342; below 1e-300 -> *v = 0.0.
// False with st->err set.
bool fp_check_result(State* st, double* v);

// ---------------------------------------------------------------------------
// Object references (`?oleobject` tokens: a name followed by "."). The
// automation client installs this handler; it is called with the token current,
// must consume the reference (and any argument list) and leave the first token
// not consumed current. Returns 1, or 0 with the error set. Without a handler
// the reference is error 3046.
typedef int (*ObjectRefHandler)(State* st, Cell* result, int assignAllowed);
extern ObjectRefHandler g_objectRef;

// ---------------------------------------------------------------------------
// Function calls (calls.cpp), shared by the evaluator and compiled expressions.

constexpr int MAX_CALL_ARGS = 16;
typedef bool (*SelfParsingFn)(State* st, Cell* result);

// The arguments a callable id takes: `req` required and up to `opt` more, the
// argument type word, and the parser of a built-in that reads its own list
// (else nullptr). 0, or the error: 3046 for an id that names nothing, 3070
// for more arguments than a call can pass.
int call_signature(State* st, uint32_t id, int* req, int* opt, uint64_t* types, SelfParsingFn* ownParser);

// Arguments lent by variables. A built-in that only reads its arguments
// (builtin_reads_args) may get the string of an argument that is a lone ANSI
// variable without a copy: the cell shares the variable's handle, which the
// release after the call leaves to the variable. No script code may run
// between the read of such an argument and the end of the call: the
// evaluators evaluate later arguments only from compiled forms without calls,
// or first give the lent cells copies of their own (unlend_all).
struct LentArgs {
    uint32_t mask = 0;                     // bit k: args[k] is lent
    uint64_t handle[MAX_CALL_ARGS + 1];    // the variable's handle it shares
};
// Gives a STRING cell sharing someone else's handle a copy of its own; 3096
// (the cell unchanged) when there is no memory.
bool own_text(State* st, Cell* c);
// Gives lent argument k a string of its own; 3096 when there is no memory.
bool unlend(State* st, Cell* args, LentArgs* lent, int k);
bool unlend_all(State* st, Cell* args, LentArgs* lent);
// Releases argument cells 1..n, leaving lent strings to their variables.
void release_args(State* st, Cell* args, int n, const LentArgs* lent = nullptr);

// Calls the dispatcher for args[1..n] (`noConvert`: the arguments are passed
// as they are) and releases the arguments. Lent arguments the dispatcher
// would convert get copies first. False with the error set and `out` INT 0.
bool call_invoke(State* st, const char* name, uint32_t id, Cell* out, Cell* args, int n, bool noConvert,
                 uint64_t types, LentArgs* lent);

// ---------------------------------------------------------------------------
// Evaluator internals shared by eval.cpp and subscript.cpp.

// Where a variable lives: scope level and lower-cased name, optionally with the
// subscripts of one of its elements.
struct VarRef {
    uint16_t level;
    uint16_t slot = SLOT_NONE;   // where the name was last seen in that scope (a hint, checked before use)
    char     name[VARNAMESIZE + 1];
    int      nsubs;          // 0: the variable itself
    int64_t  subs[5];
    bool     mapKey;         // the subscript was a map key, held in `key`
    std::string key;         // ANSI text of the map key
};

// Reads the subscripts after "[" (current) up to "]" for `arr` and makes the
// token after "]" current: integer subscripts, or the one string key of a
// map. Errors 1633, 1634, 1635, 3056.
bool parse_subscripts(State* st, const ArrayHdr* arr, VarRef* ref);
// If "[" is current and `c` holds an array, replaces `c` by the addressed
// element (a fresh copy; an empty element is 1640, a key the map does not
// hold 1636). Otherwise leaves both alone.
bool subscript_value(State* st, Cell* c);
// The value of a variable or element named by `ref` (in its scope); 3052 with
// the name detail for an uninitialised variable, 1640 for an empty element.
bool ref_fetch(State* st, const VarRef* ref, Cell* out);
// Stores a copy of `value` into the variable or element named by `ref`
// (creating the variable when it no longer exists). The old value stays on failure.
bool ref_store(State* st, const VarRef* ref, const Cell* value);
// Resolves a cell holding a variable-pointer text into a VarRef (3813, 3814).
bool ref_from_pointer(State* st, const Cell* ptr, VarRef* ref);
// The variable-pointer text of a variable of the current scope into `out` (a STRING).
bool make_pointer(State* st, const char* name, Cell* out);
