// The overwrite confirmation of FileCopy and FileMove (and their Attr
// variants): a per-call state and the "Confirm File Replace" dialog.
#pragma once
#include "state.h"
#include <string>

enum class Overwrite { All, Ask, NewerAll, OlderAll, Cancelled };

// What to do with one file. Write or Skip; Cancel stops the call (9999).
enum class OwAnswer { Write, Skip, Cancel };

// Decides for the target `target` and the source `source` (full names),
// asking when the state says so and updating it for the "All" choices and
// Cancel. Returns Cancel with *missing set when the source cannot be found.
OwAnswer overwrite_decide(State* st, Overwrite* state, const std::wstring& target, const std::wstring& source,
                          bool* missing);
