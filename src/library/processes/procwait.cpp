// Waits on processes: for a started program to be ready for input, and for a
// process to end. Both keep the thread's messages flowing (so windows that
// the interpreter owns stay responsive) and look at the stop request at least
// every STOP_POLL_MS milliseconds, since a console host sets it from another
// thread without any message.
#include "library/processes/proc_internal.h"
#include "errors.h"
#include "loader.h"
#include "wait.h"
#include <algorithm>

namespace proc {

namespace {

constexpr DWORD kPauseAfterInputMs = 20;

}  // namespace

Waited wait_handle(State* st, HANDLE h, uint64_t ms) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (stop_requested(st)) return Waited::Stopped;
        const uint64_t left = time_left(ms, start);
        const DWORD slice = static_cast<DWORD>(std::min<uint64_t>(left, STOP_POLL_MS));
        DWORD r = MsgWaitForMultipleObjects(1, &h, FALSE, slice, QS_ALLINPUT);
        const DWORD failure = r == WAIT_FAILED ? GetLastError() : 0;
        // Under a loaded Wine the message-queue wait has been seen to fail
        // once while the process handle was sound: that slice waits on the
        // handle alone, and only a handle that cannot be waited on fails.
        if (r == WAIT_FAILED) r = WaitForSingleObject(h, slice);
        if (r == WAIT_OBJECT_0) return Waited::Signaled;
        if (r == WAIT_OBJECT_0 + 1) {
            pump_messages(st);
            if (!wait_interruptible(st, kPauseAfterInputMs)) return Waited::Stopped;
        } else if (r != WAIT_TIMEOUT) {
            platform_error(st, "MsgWaitForMultipleObjects", failure ? failure : GetLastError());
            return Waited::Failed;
        }
        if (left == 0) return WaitForSingleObject(h, 0) == WAIT_OBJECT_0 ? Waited::Signaled : Waited::TimedOut;
    }
}

void wait_input_idle(State* st, HANDLE process, DWORD ms) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (stop_requested(st)) return;
        const uint64_t left = time_left(ms, start);
        if (left == 0) return;
        // WaitForInputIdle does not process this thread's messages: wait in
        // short slices and dispatch them in between.
        const DWORD r = WaitForInputIdle(process, static_cast<DWORD>(std::min<uint64_t>(left, STOP_POLL_MS)));
        if (r != WAIT_TIMEOUT) return;   // ready, or a program without a message loop (WAIT_FAILED)
        if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) return;   // it ended already
        pump_messages(st);
    }
}

uint64_t time_left(uint64_t ms, ULONGLONG start) {
    if (ms == kNoTimeLimit) return kNoTimeLimit;
    const ULONGLONG passed = GetTickCount64() - start;
    return passed >= ms ? 0 : ms - passed;
}

uint64_t timeout_ms(int seconds) {
    if (seconds == -1) return kNoTimeLimit;
    if (seconds < -1) return 0;
    return static_cast<uint64_t>(std::min(seconds, 86400)) * 1000;
}

}  // namespace proc
