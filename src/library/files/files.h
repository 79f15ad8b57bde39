// The files family: what other modules need from it. The long-path routine is
// in longpath.h, the settings in settings.h, the line reader and writer in
// linefile.h, the file table in filetable.h.
#pragma once
#include "state.h"

struct BuiltinEntry;
extern const BuiltinEntry g_fileBuiltins[];

// Tear-down (families.cpp): closes every file the script left open.
void files_teardown(State* st);
// Free slots of the file table (the internal dump).
int file_slots_available(State* st);
