// The interruptible wait and its waitable-timer variant (see wait.h).
#include "wait.h"
#include "errors.h"
#include "loader.h"
#include <algorithm>

namespace {

// A waitable timer that is cancelled and closed whatever way the wait ends.
class TimerHandle {
public:
    TimerHandle() : h_(CreateWaitableTimerW(nullptr, TRUE, nullptr)) {}
    ~TimerHandle() {
        if (h_) {
            CancelWaitableTimer(h_);
            CloseHandle(h_);
        }
    }
    TimerHandle(const TimerHandle&) = delete;
    TimerHandle& operator=(const TimerHandle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

}  // namespace

bool wait_interruptible(State* st, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (stop_requested(st)) return false;
        // Unsigned difference: correct across the 49.7-day wrap of the tick count.
        const DWORD passed = GetTickCount() - start;
        if (passed >= ms) break;
        const DWORD slice = std::min(ms - passed, STOP_POLL_MS);
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT) == WAIT_OBJECT_0)
            pump_messages(st);
    }
    Sleep(0);   // give up the rest of the time slice, as a wait ends
    return !stop_requested(st);
}

bool wait_interruptible_long(State* st, uint64_t ms) {
    constexpr uint64_t kChunk = 0x7FFFFFFF;
    while (ms > kChunk) {
        if (!wait_interruptible(st, static_cast<DWORD>(kChunk))) return false;
        ms -= kChunk;
    }
    return wait_interruptible(st, static_cast<DWORD>(ms));
}

bool waitable_timers_available() {
    static const bool available = [] {
        HMODULE k = GetModuleHandleW(L"kernel32.dll");
        return k && GetProcAddress(k, "CreateWaitableTimerW") && GetProcAddress(k, "SetWaitableTimer");
    }();
    return available;
}

TimerWait wait_timer(State* st, int64_t hundredNs) {
    TimerHandle timer;
    if (!timer.get()) {
        platform_error(st, "CreateWaitableTimerW", GetLastError());
        return TimerWait::Failed;
    }
    LARGE_INTEGER due;
    due.QuadPart = -std::max<int64_t>(hundredNs, 0);   // negative: relative to now
    if (!SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE)) {
        platform_error(st, "SetWaitableTimer", GetLastError());
        return TimerWait::Failed;
    }
    HANDLE h = timer.get();
    for (;;) {
        if (stop_requested(st)) return TimerWait::Stopped;
        const DWORD r = MsgWaitForMultipleObjects(1, &h, FALSE, STOP_POLL_MS, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) return TimerWait::Elapsed;
        if (r == WAIT_OBJECT_0 + 1) {
            pump_messages(st);
        } else if (r != WAIT_TIMEOUT) {
            platform_error(st, "MsgWaitForMultipleObjects", GetLastError());
            return TimerWait::Failed;
        }
    }
}
