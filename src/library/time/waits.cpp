// Waiting: TimeWait (until a moment), TimeDelay and Delay (for a duration).
// Both go through the interruptible wait of the core, so the script's windows
// stay responsive and a stop request ends them.
#include "library/time/timefuncs.h"
#include "loader.h"
#include "value.h"
#include "wait.h"
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Field-wise comparison from the year down to the second.
bool reached(const int64_t now[YF_COUNT], const int64_t target[YF_COUNT]) {
    for (int k = 0; k < YF_COUNT; ++k)
        if (now[k] != target[k]) return now[k] > target[k];
    return true;
}

// The moment a TimeWait argument names; false when it names none.
bool wait_target(const char* text, int64_t f[YF_COUNT]) {
    int colons = 0;
    for (const char* p = text; *p; ++p) colons += *p == ':';
    if (colons != 5 || !ymdhms_parse(text, f, YMD_SYNTAX, false)) return false;
    if (f[YF_YEAR] || f[YF_MONTH] || f[YF_DAY]) return ymdhms_parse(text, f, YMD_FULL, false);
    // A time of day: today at that time, or tomorrow when that is not later than now.
    if (!ymdhms_parse(text, f, YMD_TIME, false)) return false;
    int64_t now[YF_COUNT];
    clock_fields(now, false);
    for (int k = YF_YEAR; k <= YF_DAY; ++k) f[k] = now[k];
    if (reached(now, f)) {
        f[YF_DAY] += 1;
        ymdhms_normalise(f);
    }
    return true;
}

// Longest duration in seconds: its count of 100-nanosecond units still fits in 64 bits.
constexpr double kMaxSeconds = 9.0e11;

}  // namespace

bool wait_until(State* st, const int64_t target[YF_COUNT], bool utc) {
    int64_t now[YF_COUNT];
    for (;;) {
        pump_messages(st);
        if (stop_requested(st) || !wait_interruptible(st, 100)) return false;
        clock_fields(now, utc);
        if (reached(now, target)) return true;
    }
}

void fn_timewait(State* st, int, Cell* result, Cell* args, bool) {
    int64_t target[YF_COUNT];
    if (!wait_target(cell_str(st, &args[1]), target)) {
        st->err = 1022;
        return;
    }
    cell_set_int(st, result, wait_until(st, target, false) ? 1 : 0);
}

bool delay_without_timer(State* st, double seconds) {
    const double whole = std::floor(seconds);
    const int64_t s = static_cast<int64_t>(whole);
    const DWORD ms = static_cast<DWORD>((seconds - whole) * 1000.0);
    const ULONGLONG start = GetTickCount64();
    // Now (UTC) plus s seconds, through the 100-nanosecond file-time count.
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    SYSTEMTIME due;
    const bool fits = s <= static_cast<int64_t>((0x7FFFFFFFFFFFFFFFULL - u.QuadPart) / 10000000ULL);
    if (fits) {
        u.QuadPart += static_cast<ULONGLONG>(s) * 10000000ULL;
        ft.dwLowDateTime = u.LowPart;
        ft.dwHighDateTime = u.HighPart;
    }
    if (!fits || !FileTimeToSystemTime(&ft, &due)) {
        st->err = 1021;
        return false;
    }
    int64_t target[YF_COUNT] = {due.wYear, due.wMonth, due.wDay, due.wHour, due.wMinute, due.wSecond};
    if (s > 0 && !wait_until(st, target, true)) return false;
    if (ms >= 100 && !wait_interruptible(st, ms)) return false;
    const ULONGLONG wanted = static_cast<ULONGLONG>(s) * 1000 + ms, passed = GetTickCount64() - start;
    if (passed < wanted) return wait_interruptible(st, static_cast<DWORD>(std::min<ULONGLONG>(wanted - passed, 1000)));
    return true;
}

// TimeDelay(seconds) and Delay(seconds): 1 when the time has passed (or the
// stop request ended the pause). A negative duration waits its magnitude.
void fn_timedelay(State* st, int, Cell* result, Cell* args, bool) {
    const double seconds = args[1].f;
    if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxSeconds) {
        st->err = 1021;
        return;
    }
    if (seconds < 0) {
        wait_interruptible_long(st, static_cast<uint64_t>(std::llround(-seconds * 1000.0)));
    } else if (waitable_timers_available()) {
        if (wait_timer(st, std::llround(seconds * 1e7)) == TimerWait::Failed) {
            st->err = 1825;
            return;
        }
    } else if (!delay_without_timer(st, seconds) && st->err) {
        return;
    }
    cell_set_int(st, result, 1);
}
