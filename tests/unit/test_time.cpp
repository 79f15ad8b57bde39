// The date arithmetic against the system's own calendar conversions over
// millions of dates, the exported parser, the locale texts of TimeFormat and
// TimeDate against the system's locale data, and the waits ending on a stop
// request the way a console host's Ctrl+C delivers it (DLLServices 7 from
// another thread while the script waits).
#include <gtest/gtest.h>
#include "owned_state.h"
#include "stop_request.h"
#include "kel_dll.h"
#include "library/time/timefuncs.h"
#include "value.h"
#include "wait.h"
#include <cstring>
#include <string>

namespace {

constexpr uint64_t kDay = 864000000000ULL;   // 100-nanosecond units

uint64_t file_time(const SYSTEMTIME& t) {
    FILETIME ft;
    EXPECT_TRUE(SystemTimeToFileTime(&t, &ft));
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

SYSTEMTIME system_time(uint64_t v) {
    FILETIME ft = {static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
    SYSTEMTIME t = {};
    EXPECT_TRUE(FileTimeToSystemTime(&ft, &t));
    return t;
}

// Every day from 1601-01-01 (the system calendar's first) to 9999-12-31.
TEST(TimeCalendar, DayNumbersAgreeWithTheSystemCalendar) {
    const int64_t first = day_number(1601, 1, 1);
    const SYSTEMTIME start = {1601, 1, 0, 1, 0, 0, 0, 0};
    uint64_t ft = file_time(start);
    int wrong = 0;
    int64_t days = 0;
    for (;; ++days, ft += kDay) {
        const SYSTEMTIME t = system_time(ft);
        if (t.wYear > 9999) break;
        const int64_t n = first + days;
        int64_t y, m, d;
        day_to_date(n, &y, &m, &d);
        if (day_number(t.wYear, t.wMonth, t.wDay) != n || y != t.wYear || m != t.wMonth || d != t.wDay ||
            weekday_of_day(n) != t.wDayOfWeek) {
            if (++wrong < 5) ADD_FAILURE() << t.wYear << "-" << t.wMonth << "-" << t.wDay << " day " << n;
        }
    }
    EXPECT_EQ(days, day_number(9999, 12, 31) - first + 1);
    EXPECT_EQ(wrong, 0);
}

// Random moments moved by random amounts spread over every field, negative
// ones included: the normaliser's carries and borrows against file-time
// arithmetic.
TEST(TimeCalendar, NormaliseAgreesWithFileTimeArithmetic) {
    const uint64_t lo = file_time({1800, 1, 0, 1, 0, 0, 0, 0});
    const uint64_t span = file_time({9000, 1, 0, 1, 0, 0, 0, 0}) - lo;
    uint64_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return seed >> 17;
    };
    auto signed_below = [&next](int64_t limit) { return static_cast<int64_t>(next() % (2 * limit + 1)) - limit; };
    int wrong = 0;
    for (int i = 0; i < 1000000; ++i) {
        const uint64_t base = lo + (next() % (span / 10000000)) * 10000000;
        const SYSTEMTIME b = system_time(base);
        const int64_t dd = signed_below(40000), dh = signed_below(3000), dm = signed_below(200000),
                      ds = signed_below(5000000);
        int64_t f[YF_COUNT] = {b.wYear, b.wMonth, b.wDay, b.wHour + dh, b.wMinute + dm, b.wSecond + ds};
        f[YF_DAY] += dd;
        ASSERT_TRUE(ymdhms_normalise(f));
        const int64_t delta = ((dd * 24 + dh) * 60 + dm) * 60 + ds;
        const SYSTEMTIME e = system_time(base + delta * 10000000);
        if (f[YF_YEAR] != e.wYear || f[YF_MONTH] != e.wMonth || f[YF_DAY] != e.wDay || f[YF_HOUR] != e.wHour ||
            f[YF_MINUTE] != e.wMinute || f[YF_SECOND] != e.wSecond) {
            if (++wrong < 5) ADD_FAILURE() << "moment " << base << " moved by " << delta;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(TimeCalendar, NormaliseRefusesWhatNoYmdHmsHolds) {
    int64_t before[YF_COUNT] = {0, 1, 1, 0, 0, -1};
    EXPECT_FALSE(ymdhms_normalise(before));
    int64_t distant[YF_COUNT] = {2024, 1, 999999999999999999LL, 0, 0, 999999999999999999LL};
    EXPECT_FALSE(ymdhms_normalise(distant));
    int64_t first[YF_COUNT] = {0, 1, 1, 0, 0, 0};
    EXPECT_TRUE(ymdhms_normalise(first));
}

TEST(TimeParser, ExportedParserFillsThirtyTwoBitFields) {
    int32_t f[6];
    EXPECT_EQ(ParseYMDHMS("24:02:29", f, YMD_FULL, 1), 1);
    EXPECT_EQ(f[0], 2024);
    EXPECT_EQ(f[1], 2);
    EXPECT_EQ(f[2], 29);
    EXPECT_EQ(f[3], 0);
    EXPECT_EQ(ParseYMDHMS("23:02:29", f, YMD_FULL, 1), 0);
    EXPECT_EQ(ParseYMDHMS("2147483647:1:1:1:1:1", f, YMD_SYNTAX, 0), 1);
    EXPECT_EQ(f[0], 2147483647);
    EXPECT_EQ(ParseYMDHMS("2147483648:1:1", f, YMD_SYNTAX, 0), 0);
    EXPECT_EQ(ParseYMDHMS("2024:1:1:24:0:0", f, YMD_DATE, 0), 1);
    EXPECT_EQ(f[3], 0);   // hour 24 reads as 0 in date mode
    EXPECT_EQ(ParseYMDHMS(nullptr, f, YMD_SYNTAX, 0), 0);
}

// ---- functions on a real state ------------------------------------------------

class TimeState : public testing::Test, protected OwnedState {
protected:
    Cell args[4], result;
    void SetUp() override {
        ASSERT_TRUE(build(50, 4 << 20));
        for (Cell& c : args) cell_init(&c);
        cell_init(&result);
    }
    void TearDown() override {
        for (Cell& c : args) cell_release(st, &c, CM_BARE);
        cell_release(st, &result, CM_BARE);
        discard();
    }
    std::wstring Format(const char* value, const wchar_t* pattern) {
        cell_set_str(st, &args[1], value, strlen(value));
        cell_set_wstr(st, &args[2], pattern, wcslen(pattern));
        st->err = 0;
        fn_timeformat(st, 2, &result, args, true);
        EXPECT_EQ(st->err, 0);
        return cell_wstr(st, &result);
    }
};

std::wstring locale_text(LCTYPE what) {
    wchar_t buf[128] = L"";
    GetLocaleInfoW(LOCALE_USER_DEFAULT, what, buf, 128);
    return buf;
}

TEST_F(TimeState, FormatNamesAreTheUserLocales) {
    for (int m = 1; m <= 12; ++m) {
        const std::string value = "2024:" + std::to_string(m) + ":01:15:00:00";
        EXPECT_EQ(Format(value.c_str(), L"MMMM|MMM"),
                  locale_text(LOCALE_SMONTHNAME1 + m - 1) + L"|" + locale_text(LOCALE_SABBREVMONTHNAME1 + m - 1));
    }
    // 2024-01-01 was a Monday; the locale lists the days from Monday.
    for (int d = 0; d < 7; ++d) {
        const std::string value = "2024:01:0" + std::to_string(d + 1);
        EXPECT_EQ(Format(value.c_str(), L"dddd|ddd"),
                  locale_text(LOCALE_SDAYNAME1 + d) + L"|" + locale_text(LOCALE_SABBREVDAYNAME1 + d));
    }
    EXPECT_EQ(Format("2024:01:01:09:00:00", L"h t"), L"9 " + locale_text(LOCALE_S1159));
    EXPECT_EQ(Format("2024:01:01:21:00:00", L"h t"), L"9 " + locale_text(LOCALE_S2359));
}

TEST_F(TimeState, TimeDateIsWeekdayShortDateAndTime) {
    ASSERT_NE(use_kel_resources(), nullptr);   // the weekday names are message 207
    std::string got, want;
    int attempt = 0;
    do {   // the clock may pass a second between the two readings
        SYSTEMTIME t;
        GetLocalTime(&t);
        char date[128], time[128];
        GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, date, sizeof date);
        GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &t, nullptr, time, sizeof time);
        want = std::string("SunMonTueWedThuFriSat").substr(3 * t.wDayOfWeek, 3) + " " + date + " " + time;
        fn_timedate(st, 0, &result, args, false);
        got = cell_str(st, &result);
    } while (got != want && ++attempt < 5);
    EXPECT_EQ(got, want);
}

// TimeDelay without waitable timers: the whole seconds on the UTC clock, then
// the rest by the tick count.
TEST_F(TimeState, DelayWithoutTimerLastsItsTime) {
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_TRUE(delay_without_timer(st, 1.25));
    const ULONGLONG ms = GetTickCount64() - t0;
    EXPECT_GE(ms, 1200u);
    EXPECT_LT(ms, 6000u);
}

TEST_F(TimeState, WaitsEndOnAStopSetByAnotherThread) {
    struct Case { const char* what; bool (*wait)(State*); };
    const Case cases[] = {
        {"interruptible", [](State* s) { return wait_interruptible(s, 60000); }},
        {"timer", [](State* s) { return wait_timer(s, 600000000) == TimerWait::Elapsed; }},
        {"without timer", [](State* s) { return delay_without_timer(s, 60.5); }},
        {"until", [](State* s) {
             const int64_t distant[YF_COUNT] = {2999, 1, 1, 0, 0, 0};
             return wait_until(s, distant, false);
         }},
    };
    for (const Case& c : cases) {
        bool ended = true;
        const ULONGLONG ms = run_with_stop_after(st, 300, [&] { ended = c.wait(st); });
        EXPECT_FALSE(ended) << c.what;
        EXPECT_GE(ms, 250u) << c.what;
        EXPECT_LT(ms, 3000u) << c.what;
    }
}

// ---- through the host entries, as kel.exe's Ctrl+C handler does it ----------

TEST(TimeHost, StopRequestEndsTimeDelayPromptly) {
    HostRun host;
    ASSERT_TRUE(host.open());
    for (const char* wait : {"TimeDelay(60)", "Delay(60)", "TimeDelay(-60)", "TimeWait(\"2999:01:01:00:00:00\")",
                             "TimeWait(\"0000:00:00:00:00:00\")"}) {
        const ULONGLONG ms = host.run_and_stop(std::string("x = 1\n") + wait + "\nx = 2\n", 300);
        EXPECT_LT(ms, 2700u) << wait;
        EXPECT_EQ(host.var("x"), "1") << wait;   // the run ends after the statement that waited
    }
}

}  // namespace
