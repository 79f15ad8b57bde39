// The built-in function tables. Each module that implements built-in
// functions defines a table of {id, fn} records ending with {0, nullptr};
// the list below names every table. On first use the tables are folded into
// one index by token id, so a call finds its implementation in one step and
// the four family handlers (dispatch.cpp) stay simple lookups.
//
// To add a module: declare its table here and add it to kTables.
#include "dispatch.h"
#include "errors.h"
#include <atomic>
#include <mutex>

extern const BuiltinEntry g_callBuiltins[];        // core/callscript.cpp: Call
extern const BuiltinEntry g_coreBuiltins[];        // library/core/corefuncs.cpp: Drop, VarType, ...
extern const BuiltinEntry g_intControlBuiltins[];  // library/core/intcontrol.cpp: IntControl

// Library families: one table each (keep one blank line between families so
// that families added side by side merge cleanly).
// strings
extern const BuiltinEntry g_stringBuiltins[];      // library/strings: Str..., Chr..., Char2Num, Num2Char
extern const SelfParsingEntry g_stringSelfParsers[];   // StrCat
extern const uint32_t g_stringReaders[];           // built-ins that only read their arguments

// time
extern const BuiltinEntry g_timeBuiltins[];        // library/time: TimeAdd, TimeDelay, ...

// files
extern const BuiltinEntry g_fileBuiltins[];        // library/files/builtins.cpp: File..., Dir..., Disk...
void files_teardown(State* st);                    // library/files/filetable.cpp: closes the script's files

// items
extern const BuiltinEntry g_itemBuiltins[];        // library/items/itemtable.cpp: Item..., Array..., Arr..., Map...
extern const uint32_t g_itemReaders[];
void items_teardown(State* st);                    // library/items/itemtable.cpp: the shell library of @LOGICALSORT

// binary buffers
extern const BuiltinEntry g_binaryBuiltins[];      // interop/binary/builtins.cpp
void binbuf_teardown(State* st);                   // interop/binary/table.cpp: frees every buffer

// trace
extern const BuiltinEntry g_traceBuiltins[];       // diag/debugtrace.cpp: DebugTrace, DebugData, Debug
void trace_teardown(State* st);                    // diag/trace_out.cpp

// registry
extern const BuiltinEntry g_registryBuiltins[];    // library/registry/registry.cpp: Reg*
void reg_teardown(State* st);                      // library/registry/regkeys.cpp: closes the script's keys

// windows, processes, keys
extern const BuiltinEntry g_windowBuiltins[];      // library/windows: Win..., WindowOnTop
extern const BuiltinEntry g_keyBuiltins[];         // library/keys: SendKey, SendKeysTo, ...
extern const BuiltinEntry g_processBuiltins[];     // library/processes/builtins.cpp: Run*, ShellExecute*, App*, Terminate*


namespace {

struct TableRef {
    const BuiltinEntry* table;
    const int*          count;   // entry count for tables without a terminator, else nullptr
};

const TableRef kTables[] = {
    {g_callBuiltins, nullptr},
    {g_coreBuiltins, nullptr},
    {g_intControlBuiltins, nullptr},
    {g_errorBuiltins, &g_errorBuiltinCount},    // core/errfuncs.cpp: ErrorMode, LastError, ErrorEvent

    // strings
    {g_stringBuiltins, nullptr},

    // time
    {g_timeBuiltins, nullptr},

    // files
    {g_fileBuiltins, nullptr},

    // items
    {g_itemBuiltins, nullptr},

    // binary buffers
    {g_binaryBuiltins, nullptr},

    // trace
    {g_traceBuiltins, nullptr},

    // registry
    {g_registryBuiltins, nullptr},

    // windows, processes, keys
    {g_windowBuiltins, nullptr},
    {g_keyBuiltins, nullptr},
    {g_processBuiltins, nullptr},

};

// Tables of built-ins that read their own argument list (dispatch.h).
const SelfParsingEntry* const kSelfParsers[] = {
    // strings
    g_stringSelfParsers,

};

// Lists of built-ins that only read their arguments (dispatch.h).
const uint32_t* const kReaders[] = {g_stringReaders, g_itemReaders};

BuiltinFn g_index[KW_COUNT];
bool      g_readsArgs[KW_COUNT];
int       g_conflicts = 0;
std::once_flag g_built;
std::atomic<bool> g_ready{false};   // set once the index is built: the calls below skip call_once

void build_index();

// The index, built on first use by whichever thread comes first.
inline void ensure_index() {
    if (g_ready.load(std::memory_order_acquire)) return;
    std::call_once(g_built, build_index);
}

void build_index() {
    for (const uint32_t* list : kReaders)
        for (; *list; ++list)
            if (*list < KW_COUNT) g_readsArgs[*list] = true;
    for (const TableRef& t : kTables) {
        int n = t.count ? *t.count : 1 << 20;
        for (int i = 0; i < n && t.table[i].fn; ++i) {
            uint32_t id = t.table[i].id;
            if (id >= KW_COUNT) {
                ++g_conflicts;   // not an id of the keyword table
                continue;
            }
            if (g_index[id] && g_index[id] != t.table[i].fn) ++g_conflicts;
            g_index[id] = t.table[i].fn;
        }
    }
    g_ready.store(true, std::memory_order_release);
}

}  // namespace

BuiltinFn builtin_lookup(uint32_t id) {
    ensure_index();
    return id < KW_COUNT ? g_index[id] : nullptr;
}

bool builtin_reads_args(uint32_t id) {
    ensure_index();
    return id < KW_COUNT && g_readsArgs[id];
}

SelfParsingFn self_parsing_lookup(uint32_t id) {
    for (const SelfParsingEntry* t : kSelfParsers)
        for (; t->fn; ++t)
            if (t->id == id) return t->fn;
    return nullptr;
}

int builtin_conflicts() {
    ensure_index();
    return g_conflicts;
}

// ---- tear-down ---------------------------------------------------------------
// Modules that hold per-state resources (open files, key handles, buffers, a
// trace file) release them in a function listed here; request 99 calls every
// one, in this order, after the variables are released.
namespace {
const TeardownFn kTeardowns[] = {
    // strings

    // time

    // files
    files_teardown,

    // items
    items_teardown,

    // binary buffers
    binbuf_teardown,

    // trace
    trace_teardown,

    // registry
    reg_teardown,

    // windows, processes, keys

    nullptr,
};
}  // namespace

void library_teardown(State* st) {
    for (TeardownFn fn : kTeardowns)
        if (fn) fn(st);
}
