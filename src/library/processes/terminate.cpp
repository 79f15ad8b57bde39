// Terminate: ends the script when a condition holds, after telling the user
// why.
#include "library/processes/proc_internal.h"
#include "errors.h"

using namespace proc;

// Terminate (condition, title, message): a condition of 0 does nothing and
// returns 1. Otherwise the title and message are shown in a box with OK
// (unless both are empty), and the script ends as Exit ends it.
void fn_terminate(State* st, int, Cell* result, Cell* args, bool) {
    if (args[1].i == 0) {
        cell_set_int(st, result, 1);
        return;
    }
    const std::string title = ansi_text(st, wide_arg(st, &args[2]).c_str());
    const std::string text = ansi_text(st, wide_arg(st, &args[3]).c_str());
    if (!title.empty() || !text.empty()) core_box(st, text.c_str(), title.c_str(), MB_OK | MB_ICONSTOP);
    st->err = 9000;
}
