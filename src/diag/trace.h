// The statement trace and the internal dumps: what the rest of the library
// needs to know of them.
//
// The executor and the error handling call the trace writer through the hook
// g_traceWriter (exec.h), which the first trace request installs; while no
// script has asked for a trace nothing of this module runs.
#pragma once
#include "state.h"

struct BuiltinEntry;

// The trace writer: records one event (exec.h lists them) when the trace asks
// for it. Never changes what the script does: the error number, the detail
// block and the system's last-error code are as they were afterwards.
void trace_write(State* st, int event, const char* text, const Cell* value);

// DLLServices 25, for hosts: every following run starts with the trace on and
// writes to `file` (8-bit) or `wfile` (wide); a null or empty name turns this
// off again. `options` are the trace options (1 no elapsed times, 2 errors
// also while the trace is off, 4 dumps after each error); `fresh` non-zero
// deletes an existing file of that name first. Returns 1, 0 when the name
// cannot be used.
int64_t trace_host_request(State* st, const char* file, const wchar_t* wfile, int64_t options, int64_t fresh);

// Releases the trace block of a state (tear-down).
void trace_teardown(State* st);

// IntControl 160: where DebugData writes (0 debugger output, 1 the report
// writer); other values only read. Returns the previous setting as text.
void ic_debugdata_path(State* st, Cell* result, Cell* p);

// DebugTrace, DebugData, Debug.
extern const BuiltinEntry g_traceBuiltins[];
