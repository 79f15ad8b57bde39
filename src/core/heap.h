// The string heap: one region per script, blocks with boundary tags, a
// circular free list anchored in an 80-byte header, next-fit search from a
// rover. Handles are byte offsets from the base (0 = none).
#pragma once
#include <cstdint>
#include <cstddef>
struct State;

extern "C" uint64_t VMalloc(State* st, uint64_t bytes);  // 0 on failure (caller raises 3096)
extern "C" void     VFree(State* st, uint64_t handle);

// Formats a region of `reserved` bytes at `base`, committing `initial` bytes.
bool heap_init(State* st, uint8_t* base, uint64_t reserved, uint64_t initial);

inline char*    heap_ptr(State* st, uint64_t h);
inline wchar_t* heap_wptr(State* st, uint64_t h);

// Copies text into a fresh block; 0 on failure. len excludes the terminator.
uint64_t heap_strdup(State* st, const char* s, size_t len);
uint64_t heap_wstrdup(State* st, const wchar_t* s, size_t len);

// The allocator's boxes ("INTERNAL DYNALLOC ERROR", "VMalloc error - VirtualAlloc
// failed") go through this hook when it is set, instead of a message box
// (unit tests capture them; a host could log them). Process-wide.
typedef void (*HeapBoxHook)(const char* title, const char* text);
extern HeapBoxHook g_heapBoxHook;

// Asked by VMalloc before each allocation when set; true makes that request
// fail as an exhausted heap does (VMalloc returns 0). Process-wide, never set
// by the library and not exported: unit tests that link the core statically
// set it to make chosen allocations fail (allocation-failure injection).
typedef bool (*HeapAllocProbe)(uint64_t bytes);
extern HeapAllocProbe g_heapAllocProbe;

// Walks every block and the free list and checks the boundary tags, sizes,
// links and the rover. True when consistent; otherwise `why` says what failed.
bool heap_check(State* st, char* why, size_t size);

#include "state.h"
inline char*    heap_ptr(State* st, uint64_t h)  { return reinterpret_cast<char*>(st->heapBase + h); }
inline wchar_t* heap_wptr(State* st, uint64_t h) { return reinterpret_cast<wchar_t*>(st->heapBase + h); }
