// The registry functions: keys as integer handles, values named by
// "subkey[value]" strings, 32-bit and 64-bit views, remote registries and
// hives. See docs/registry.md.
#pragma once
#include "state.h"

struct BuiltinEntry;
extern const BuiltinEntry g_registryBuiltins[];

// Tear-down: closes every key the script still holds and frees the key table.
void reg_teardown(State* st);

// IntControl 150: the default registry view (0 none, 1 the 32-bit view, 2 the
// 64-bit view); other values only read. Returns the previous setting.
void ic_reg_view(State* st, Cell* result, Cell* p);
