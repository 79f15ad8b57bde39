#include "run_status.h"

namespace {
constexpr uint32_t kExit = 9000;         // the script ended by Exit
}

// DLLServices 4 already folds the line loop's result in: it is 0 exactly when
// the script ran to its end or stopped by Exit, so the loop's own result code
// (DLLServices 5, which is also "stopped" after Exit) adds nothing here.
int exit_status(const RunOutcome& o)
{
    if (!o.started) return 1;
    if (o.lastError == 0 || o.lastError == kExit) return 0;
    return 1;                            // another error or control code ended the run
}
