// IntControl (request, p1, p2, p3, p4): the numbered requests, as a table.
//
// To add a request: write `void ic_<name>(State*, Cell* result, Cell* p)` in
// the module that owns the setting, declare it in that module's header,
// include the header here and add a row below. An unknown request is 1809.
#include "library/core/intcontrol.h"
#include "diag/trace.h"
#include "library/files/settings.h"
#include "library/keys/keys.h"
#include "library/processes/processes.h"
#include "library/registry/registry.h"
#include "library/time/timefuncs.h"
#include "library/windows/windows.h"
#include "dispatch.h"
#include "errors.h"
#include "eval.h"
#include "value.h"
#include <cstdio>
#include <cstring>

namespace {

// 87: how Execute shows a failing statement: 0 a box with OK and Cancel,
// 1 a box with OK, 2 nothing. Other values only read the setting.
void ic_execute_display(State* st, Cell* result, Cell* p) {
    const int previous = st->executeMode;
    const int mode = ic_int(st, &p[0]);
    if (mode >= 0 && mode <= 2) st->executeMode = static_cast<uint8_t>(mode);
    ic_previous(st, result, previous);
}

// 72 and 73: the cancel and error handlers (0 none, 1 label, 2 label as a
// GoSub, 3 the user-defined function named by p2); other modes only read.
void ic_cancel_handler(State* st, Cell* result, Cell* p) {
    char func[VARNAMESIZE + 1];
    ic_text(st, &p[1], func, sizeof func);
    ic_previous(st, result, errctl_cancel_mode(st, ic_int(st, &p[0]), func));
}

void ic_error_handler(State* st, Cell* result, Cell* p) {
    char func[VARNAMESIZE + 1];
    ic_text(st, &p[1], func, sizeof func);
    ic_previous(st, result, errctl_error_mode(st, ic_int(st, &p[0]), func));
}

// Request numbers the design does not fix are ours; each family has a block
// (docs/architecture.md, "IntControl"). Keep one blank line between families.
const IntControlEntry kRequests[] = {
    {72, ic_cancel_handler},
    {73, ic_error_handler},
    {87, ic_execute_display},

    // time (41)
    {41, ic_year_digits},

    // files (100-119)
    {100, ic_file_read_share},
    {101, ic_file_write_share},
    {102, ic_file_line_length},
    {103, ic_file_terminator},
    {104, ic_file_list_delim},
    {105, ic_file_hidden},
    {106, ic_file_utc},
    {107, ic_file_recheck},
    {108, ic_file_background},

    // items (120-129)

    // windows, processes (130-149)
    {130, ic_window_wait},
    {131, ic_command_delay},
    {132, ic_wait_done_delay},
    {140, ic_idle_wait},
    {141, ic_last_exit_code},
    {142, ic_launch_sound},

    // registry (150-159)
    {150, ic_reg_view},

    // keys (35, 43, 45)
    {35, ic_key_delay},
    {43, ic_key_idle_wait},
    {45, ic_key_console},

    // trace (160-169)
    {160, ic_debugdata_path},

};

void fn_intcontrol(State* st, int nargs, Cell* result, Cell* args, bool) {
    const int request = args[1].i;
    Cell p[4];
    for (int k = 0; k < 4; ++k) {
        if (k + 2 <= nargs) memcpy(&p[k], &args[k + 2], sizeof(Cell));
        else cell_init(&p[k]);
    }
    for (const IntControlEntry& e : kRequests) {
        if (e.request == request) {
            e.fn(st, result, p);
            return;
        }
    }
    st->err = 1809;   // "Invalid request number"
}

}  // namespace

int ic_int(State* st, const Cell* c) {
    Cell tmp;
    if (!cell_copy(st, &tmp, c, CM_BARE | CC_DUPSTRINGS)) return 0;
    int v = conv_to_int(st, &tmp, true, false) ? tmp.i : 0;
    cell_release(st, &tmp, CM_BARE);
    return v;
}

void ic_text(State* st, const Cell* c, char* out, size_t size) {
    out[0] = 0;
    Cell tmp;
    if (!cell_copy(st, &tmp, c, CM_BARE | CC_DUPSTRINGS)) return;
    if (conv_to_ansi(st, &tmp)) snprintf(out, size, "%s", cell_str(st, &tmp));
    cell_release(st, &tmp, CM_BARE);
}

void ic_previous(State* st, Cell* result, int64_t previous) {
    char text[24];
    int n = snprintf(text, sizeof text, "%lld", static_cast<long long>(previous));
    cell_set_str(st, result, text, static_cast<size_t>(n));
}

extern const BuiltinEntry g_intControlBuiltins[] = {
    {KW_INTCONTROL, fn_intcontrol},
    {0, nullptr},
};
