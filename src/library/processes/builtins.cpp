// The process family's table of built-in functions.
#include "library/processes/proc_internal.h"
#include "dispatch.h"
#include "keyword_ids.h"

using namespace proc;

extern const BuiltinEntry g_processBuiltins[] = {
    {KW_APPEXIST, fn_appexist},
    {KW_APPPROCID, fn_appprocid},
    {KW_APPWAITCLOSE, fn_appwaitclose},
    {KW_RUN, fn_run_fixed<DISPLAY_NORMAL, WAIT_NOWAIT>},
    {KW_RUNAPP, fn_runapp},
    {KW_RUNENVIRON, fn_runenviron},
    {KW_RUNEXIT, fn_runexit},
    {KW_RUNHIDE, fn_run_fixed<DISPLAY_HIDDEN, WAIT_NOWAIT>},
    {KW_RUNHIDEWAIT, fn_run_fixed<DISPLAY_HIDDEN, WAIT_WAIT>},
    {KW_RUNICON, fn_run_fixed<DISPLAY_ICON, WAIT_NOWAIT>},
    {KW_RUNICONWAIT, fn_run_fixed<DISPLAY_ICON, WAIT_WAIT>},
    {KW_RUNSHELL, fn_runshell},
    {KW_RUNWAIT, fn_run_fixed<DISPLAY_NORMAL, WAIT_WAIT>},
    {KW_RUNWITHLOGON, fn_runwithlogon},
    {KW_RUNZOOM, fn_run_fixed<DISPLAY_ZOOMED, WAIT_NOWAIT>},
    {KW_RUNZOOMWAIT, fn_run_fixed<DISPLAY_ZOOMED, WAIT_WAIT>},
    {KW_SHELLEXECUTE, fn_shellexecute},
    {KW_SHELLEXECUTEWAIT, fn_shellexecutewait},
    {KW_TERMINATE, fn_terminate},
    {KW_TERMINATEAPP, fn_terminateapp},
    {0, nullptr},
};
