// Allocation-failure injection and block tracking for tests that link the
// interpreter statically.
//
// Three kinds of allocation are counted, each on its own:
// - the string heap: every VMalloc (through the core's g_heapAllocProbe);
// - global memory: GlobalAlloc and GlobalReAlloc;
// - the system heap: HeapAlloc, HeapReAlloc, LocalAlloc, LocalReAlloc, the C
//   runtime's malloc, calloc, realloc and _strdup (so every operator new of
//   the C++ containers), and the automation strings (SysAllocString...).
// The last two kinds are caught by patching this program's import table, so
// every family's code is covered without wrappers in it. A plan names the
// n-th allocation of one kind; that one allocation fails (null, last error
// ERROR_NOT_ENOUGH_MEMORY), the others succeed.
//
// The hooks act only inside an Armed scope, on the thread that opened it, and
// never for the test's own work inside a HostScope (the host callbacks). Blocks
// of global memory and of the system heap allocated inside an armed scope are
// tracked until freed, so what the interpreter still holds after its
// tear-down can be listed (automation strings are freed inside the system's
// own libraries and are not tracked).
//
// Sites. The place of an allocation is read from the call stack: frames of
// the C++ runtime, of GoogleTest and of these hooks are passed over (see
// program_symbols.h), and VMalloc itself. The first remaining return address
// is the allocation site (the call in the interpreter's code that asked for
// memory, directly or through a container); the first three make the call
// path.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace inject {

enum Kind : int { STRING_HEAP = 0, GLOBAL_MEMORY = 1, SYSTEM_HEAP = 2 };
constexpr int KINDS = 3;
const char* kind_name(int kind);

// Installs the probe and patches the import table (once). False when the
// program's symbols or imports could not be read. The C names that count as
// the interpreter's own code are the library's exports (src/CXDXA64I.def).
bool install();

class Armed {
public:
    Armed();
    ~Armed();
    Armed(const Armed&) = delete;
    Armed& operator=(const Armed&) = delete;
};

// The test's own work inside an armed scope (host callbacks): not counted,
// never failed, not tracked.
class HostScope {
public:
    HostScope();
    ~HostScope();
    HostScope(const HostScope&) = delete;
    HostScope& operator=(const HostScope&) = delete;
private:
    bool was_;
};

// Clears the counts, the plan, the fired record and the recorded paths.
void reset();
// The n-th allocation (1-based) of `kind` fails; 0 for none.
void fail_at(int kind, uint64_t n);

struct Fired {
    bool     fired = false;
    int      kind = 0;
    uint64_t n = 0;
    uint32_t path = 0;
};
Fired fired();

// While on, the call path of every counted allocation is kept in order.
void record_paths(bool on);
const std::vector<uint32_t>& paths(int kind);

// Call paths and sites met so far (ids from 1).
uint32_t site_of(uint32_t path);
std::string describe_path(uint32_t path);
std::string describe_site(uint32_t site);

// Blocks allocated inside armed scopes and not freed since.
struct LiveBlock {
    int       kind;
    void*     block;
    size_t    bytes;
    uintptr_t caller;    // return address of the allocation call
};
std::vector<LiveBlock> live_blocks();
// Blocks that the threads runtime allocates once for the process (thread
// keys, lazily made locks, emulated thread-local storage) are no leak of the
// interpreter's: true when `caller` lies in that runtime.
bool runtime_owned(uintptr_t caller);
std::string describe_address(uintptr_t addr);
void forget_live_blocks();

}  // namespace inject
