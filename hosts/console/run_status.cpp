#include "run_status.h"

namespace {
constexpr uint32_t kExit = 9000;         // the script ended by Exit
}

int exit_status(const RunOutcome& o)
{
    if (!o.started) return 1;
    if (o.lastError == 0 || o.lastError == kExit) return 0;
    return 1;                            // another error or control code ended the run
}
