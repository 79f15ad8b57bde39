// A host for tests that run whole scripts through the library's entries
// (DoDaDllInit, ProcessDaBatBuffer, DLLServices, request 99), one fresh
// interpreter state per run, the way kel.exe builds it, and check what is
// left afterwards:
// - the string heap is consistent after each buffer (heap_check), and the
//   allocator raised no box (a damaged or twice-freed block);
// - no heap block is in use after the tear-down, and, when the allocation
//   hooks are installed (alloc_hooks.h), no block of global memory or of the
//   system heap that the run allocated is still held;
// - the process heap and the C runtime's heap are consistent;
// - no C++ exception came out of an entry.
// The host functions StdOut, StdErr and StdIn exist (output is collected,
// input is empty). A per-line notification counts statements and stops a
// buffer at the budget; a run longer than the hang limit is written to stderr
// and ends the process (a statement that never finishes cannot be stopped).
#pragma once
#include <string>
#include <vector>

// Noted in RunOutcome::errors when DLLServices 11 refused the parameter
// string (answered 0): the host was told, as it is told of an error.
constexpr int kParamsRefused = -11;

struct RunOutcome {
    bool started = true;         // every buffer was accepted (ProcessDaBatBuffer answered 1)
    int  runErr = 0;             // how the last buffer ended (DLLServices 4)
    bool stopped = false;        // the statement budget stopped a buffer
    std::string out;             // what StdOut and StdErr printed, a line each
    std::vector<int> errors;     // error numbers noted, in order: notifications and reports
    bool operator==(const RunOutcome& o) const {
        return started == o.started && runErr == o.runErr && stopped == o.stopped && out == o.out &&
               errors == o.errors;
    }
    bool operator!=(const RunOutcome& o) const { return !(*this == o); }
};

class ScriptHost {
public:
    ScriptHost();

    int budget = 3000;            // statements per buffer before the stop request
    bool armed = false;           // library entries run inside inject::Armed scopes
    bool validateHeaps = true;    // check the process and runtime heaps after each run
    std::string params;           // parameter string given to every buffer (DLLServices 11)

    // Runs the buffers one after the other on one fresh state (variables,
    // functions and arrays made by one are there for the next). False with
    // `why` when a check failed.
    bool run(const std::vector<std::string>& buffers, const std::string& name, std::string* why);
    bool run(const std::string& text, const std::string& name, std::string* why) {
        return run(std::vector<std::string>{text}, name, why);
    }

    RunOutcome outcome;           // of the last run
    int usedBeforeTeardown = 0;   // heap blocks in use after the last buffer
    int statements = 0;           // statements of the last buffer

private:
    long long size_ = 0;
    std::string last_;
};

// The numbers whose messages say that memory could not be had (allocate,
// lock memory, out of memory), from the library's message table.
const std::vector<int>& out_of_memory_numbers();
