// The exit status of kel.exe from the outcome of a run.
#pragma once
#include <cstdint>

struct RunOutcome {
    bool started = false;        // ProcessDaBatBuffer ran the script (result 1)
    uint32_t lastError = 0;      // DLLServices 4: error number the run ended with
};

// 0 normal end or Exit; 1 stopped on an error or a cancel, or not started.
int exit_status(const RunOutcome& o);
