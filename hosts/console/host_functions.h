// The functions kel.exe adds to the language (token ids 1000 and up):
// StdOut(text), StdErr(text), StdIn().
#pragma once
#include "kel.h"

// The table handed to ProcessDaBatBuffer (ends with a record of nameLen 0).
const KelFunction* host_function_table();

// The host entry the library calls for host functions and notifications.
int64_t host_entry(HWND hwnd, void* instance, uint32_t stamp, int32_t request, void* p1,
                   KelServices* services, void* privateSlot, void* p4, int64_t n, void* work);
