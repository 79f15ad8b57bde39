// Routes a function call to the built-in family handlers, the host, user-defined
// functions or extenders, converting arguments by their type codes.
#pragma once
#include "state.h"

// args[1..nargs] are the argument cells (args[0] unused). Returns 0 or the error number.
int dispatch(State* st, const char* name, uint32_t id, Cell* result, Cell* args, bool noConvert,
             int nargs, uint64_t typeWord);
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
