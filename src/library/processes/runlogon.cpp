// RunWithLogon: starts a program under another user's logon, on the
// interactive desktop.
#include "library/processes/proc_internal.h"

using namespace proc;

// RunWithLogon (program, parameters, directory, display, wait, user, domain,
// password, flags). Flags: 0, LOGON_WITH_PROFILE (1: load the user's
// profile) or LOGON_NETCREDENTIALS_ONLY (2: the credentials serve only on
// the network); any other value is 1822.
void fn_runwithlogon(State* st, int, Cell* result, Cell* args, bool) {
    const int flags = args[9].i;
    if (flags < 0 || flags > 2) {
        st->err = 1822;   // "Invalid flag(s)"
        return;
    }
    Logon logon;
    logon.user = wide_arg(st, &args[6]);
    logon.domain = wide_arg(st, &args[7]);
    logon.password = wide_arg(st, &args[8]);
    logon.flags = static_cast<DWORD>(flags);
    LaunchRequest rq;
    rq.program = wide_arg(st, &args[1]);
    rq.params = wide_arg(st, &args[2]);
    rq.directory = wide_arg(st, &args[3]);
    rq.display = args[4].i;
    rq.wait = args[5].i;
    rq.logon = &logon;
    launch(st, rq, result);
    SecureZeroMemory(logon.password.data(), logon.password.size() * sizeof(wchar_t));
}
