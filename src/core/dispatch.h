// Routes a function call to the built-in family handlers, the host, user-defined
// functions or extenders, converting arguments by their type codes.
#pragma once
#include "state.h"

// args[1..nargs] are the argument cells (args[0] unused). Returns 0 or the error number.
int dispatch(State* st, const char* name, uint32_t id, Cell* result, Cell* args, bool noConvert,
             int nargs, uint64_t typeWord);
// The type code of argument k (1-based) in a type word (AT_ANY beyond 16).
int arg_code(uint64_t typeWord, int k);
// Whether a call's text arguments go in their wide form: some argument of
// code AT_STRW6 or AT_STRW8 holds wide text.
bool call_is_wide(const Cell* args, int nargs, uint64_t typeWord);
// Functions whose argument is a variable NAME (keyword class 6: Drop, IsDefined,
// VarType, ObjectTypeGet, PtrGlobal, PtrGlobalDefine, PtrGlobalTest,
// PtrPersistent, ?makepointer) are called by the evaluator with noConvert set
// and typeWord 0. args[1] is a STRING cell holding the lower-cased name as the
// tokenizer read it; when the script wrote "*name" (Drop, IsDefined, VarType,
// ObjectTypeGet) the text is "*" followed by the name of the variable that
// holds a variable pointer, which the function resolves itself. For Drop every
// argument is such a name; for the others args[2..] are ordinary evaluated
// values. `Drop()` arrives with nargs 0. The evaluator set the tokenizer flags
// (makePointer for ?makepointer and PtrGlobalDefine, ptrPersistent for
// PtrPersistent, ptrPrefix after "*") while the name was read.

// Family handlers by token-id range (0..361, 362..517, 518..685, 686..).
typedef void (*FamilyHandler)(State* st, uint32_t id, int nargs, Cell* result, Cell* args, bool wide,
                              uint64_t typeWord);
void family1(State*, uint32_t, int, Cell*, Cell*, bool, uint64_t);
void family2(State*, uint32_t, int, Cell*, Cell*, bool, uint64_t);
void family3(State*, uint32_t, int, Cell*, Cell*, bool, uint64_t);
void family4(State*, uint32_t, int, Cell*, Cell*, bool, uint64_t);

// A built-in function implementation. Each family keeps a table of {id, fn}.
typedef void (*BuiltinFn)(State* st, int nargs, Cell* result, Cell* args, bool wide);
struct BuiltinEntry { uint32_t id; BuiltinFn fn; };
// Tables end with an entry whose fn is nullptr. families.cpp lists every
// module's table; an id of the keyword table that no table implements fails
// with 3046 and the detail "<name> is not available in this version".

// Built-ins that read their own argument list (StrCat takes up to 1024
// arguments). The evaluator calls the parser instead of its generic argument
// parser for an "any number" function listed in families.cpp, with "(" the
// current token; the parser evaluates the arguments, fills `result` and
// leaves ")" current, as the generic path does. False with the error set.
typedef bool (*SelfParsingFn)(State* st, Cell* result);
struct SelfParsingEntry { uint32_t id; SelfParsingFn fn; };
SelfParsingFn self_parsing_lookup(uint32_t id);

// Built-ins that only read their arguments: they neither change nor free an
// argument cell, run no script code and touch no variable, so the evaluator
// may lend them a variable's string instead of a copy (eval.cpp). Each family
// lists its own, ending with 0; families.cpp names the lists.
bool builtin_reads_args(uint32_t id);

// Per-state clean-up of a library module, called at tear-down (request 99);
// families.cpp lists them.
typedef void (*TeardownFn)(State* st);
void library_teardown(State* st);
// Number of ids implemented by more than one table (0 in a correct build).
int builtin_conflicts();
// The implementation registered for a built-in id, or nullptr.
BuiltinFn builtin_lookup(uint32_t id);

// Conversions that need the automation client, installed by it. op 3: a COM
// value holding a SAFEARRAY to an array; op 4: any value (arrays too) to a
// variant. Return false with the error set, or leave it unset for the
// dispatcher's own error (3650, 3732). While unset, op 3 fails and op 4
// converts numbers and strings itself.
typedef bool (*ComArgConversion)(State* st, Cell* c, int op);
extern ComArgConversion g_comArgConversion;

// Extender functions (ids 10000..10750) are called through this hook, which
// the extender module installs; while unset such ids fail with 3046.
typedef int (*ExtenderCall)(State* st, uint32_t id, Cell* result, Cell* args, int nargs, uint64_t typeWord);
extern ExtenderCall g_extenderCall;

// ---- the entry calling path shared by host functions and extenders (entrycall.cpp) ----
struct KelServices;
// Fills the services block handed to a host or extender entry for a call whose
// result goes to `result` (nullptr while loading or notifying).
void services_fill(State* st, Cell* result, KelServices* out);
// Calls `entry` (a KelEntry) for function number `funcNum` at interface level
// `level` (4: 8-bit strings; 5 and 100005: wide strings where the argument
// code asks for them) with args[1..nargs]; the answer arrives through
// ViperAnswer. Negative results become errors as described in
// docs/host-interface.md. Returns 0 or the error number.
int entry_call(State* st, void* entry, int level, int32_t funcNum, Cell* result, Cell* args, int nargs,
               uint64_t typeWord, uint32_t* privateSlot);
// A host function (ids 1000..1998) from the host function table.
int host_call(State* st, uint32_t id, Cell* result, Cell* args, int nargs, uint64_t typeWord);
// Notifies the host (negative request codes: -1 next line, -4 call depth,
// -5 file, -7 error text); returns its answer, 0 without a host entry.
int64_t host_notify(State* st, int32_t code, const char* text, int64_t number);
