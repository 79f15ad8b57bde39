// The interruptible wait: every pause of the library (time functions, window
// and process waits, keystroke pacing, file-open retries) goes through here,
// so the script thread keeps its windows responsive and a stop request ends
// the pause promptly.
//
// The stop request may be set on another thread (a console host's Ctrl+C
// handler calls DLLServices 7 from the system's handler thread) and then
// arrives without any window message, so the waits also look at it at least
// every STOP_POLL_MS milliseconds.
#pragma once
#include "state.h"

constexpr DWORD STOP_POLL_MS = 50;

// True once the state's stop request is set (read afresh: another thread may set it).
inline bool stop_requested(const State* st) {
    return *static_cast<const volatile uint8_t*>(&st->stopRequest) != 0;
}

// Waits up to `ms` milliseconds, processing the thread's window messages as they arrive.
// Returns false as soon as the state's stop request is set, true when the time ran out.
bool wait_interruptible(State* st, DWORD ms);

// The same for any number of milliseconds (longer waits run as consecutive
// waits of at most 2^31 - 1 milliseconds each).
bool wait_interruptible_long(State* st, uint64_t ms);

// How a timer wait ended.
enum class TimerWait { Elapsed, Stopped, Failed };

// Waits for a relative interval of `hundredNs` units of 100 nanoseconds on a
// manual-reset waitable timer while processing all input messages, leaving
// early on the stop request. On a failure of the timer or of the wait the
// failing call is recorded with platform_error (its name and the system error
// code in the detail block) and Failed is returned; the caller chooses the
// error number. The timer is cancelled and closed on every path.
TimerWait wait_timer(State* st, int64_t hundredNs);

// Whether the system offers waitable timers (looked up once per process).
bool waitable_timers_available();
