// The clock readers: TimeYmdHms, TimeDate / DateTime, GetExactTime,
// GetTickCount, GetTickCount64; the year setting (IntControl 41).
#include "library/time/timefuncs.h"
#include "library/core/intcontrol.h"
#include "errors.h"
#include "value.h"
#include <cstdio>
#include <cstring>

namespace {

void fields_of(const SYSTEMTIME& t, int64_t f[YF_COUNT]) {
    f[YF_YEAR] = t.wYear;
    f[YF_MONTH] = t.wMonth;
    f[YF_DAY] = t.wDay;
    f[YF_HOUR] = t.wHour;
    f[YF_MINUTE] = t.wMinute;
    f[YF_SECOND] = t.wSecond;
}

// A value of the legacy [intl] profile section.
void intl_text(const char* key, const char* def, char* out, DWORD size) {
    GetProfileStringA("intl", key, def, out, size);
}

char time_separator() {
    char sep[8];
    intl_text("sTime", ":", sep, sizeof sep);
    return sep[0] ? sep[0] : ':';
}

// Date and time from the legacy [intl] settings, for systems whose locale
// formatters fail: order by iDate, separators sDate and sTime, the year's
// digits from sShortDate, a 12-hour clock with s1159/s2359 when iTime is 0.
void legacy_date_time(const SYSTEMTIME& t, char* date, size_t dateSize, char* time, size_t timeSize) {
    char shortDate[80], dsep[8], am[16], pm[16];
    intl_text("sShortDate", "M/d/yy", shortDate, sizeof shortDate);
    intl_text("sDate", "/", dsep, sizeof dsep);
    intl_text("s1159", "AM", am, sizeof am);
    intl_text("s2359", "PM", pm, sizeof pm);
    const char ds = dsep[0] ? dsep[0] : '/';
    const char ts = time_separator();
    char year[8];
    if (strstr(shortDate, "yyy")) snprintf(year, sizeof year, "%04d", t.wYear);
    else snprintf(year, sizeof year, "%02d", t.wYear % 100);
    switch (GetProfileIntA("intl", "iDate", 0)) {
    case 1:  snprintf(date, dateSize, "%2d%c%02d%c%s", t.wDay, ds, t.wMonth, ds, year); break;
    case 2:  snprintf(date, dateSize, "%s%c%02d%c%02d", year, ds, t.wMonth, ds, t.wDay); break;
    default: snprintf(date, dateSize, "%2d%c%02d%c%s", t.wMonth, ds, t.wDay, ds, year); break;
    }
    if (GetProfileIntA("intl", "iTime", 0) == 0) {
        const int h = t.wHour % 12 == 0 ? 12 : t.wHour % 12;
        snprintf(time, timeSize, "%2d%c%02d%c%02d %s", h, ts, t.wMinute, ts, t.wSecond, t.wHour < 12 ? am : pm);
    } else {
        snprintf(time, timeSize, "%2d%c%02d%c%02d", t.wHour, ts, t.wMinute, ts, t.wSecond);
    }
}

}  // namespace

void clock_fields(int64_t f[YF_COUNT], bool utc) {
    SYSTEMTIME t;
    if (utc) GetSystemTime(&t);
    else GetLocalTime(&t);
    fields_of(t, f);
}

bool time_result(State* st, Cell* result, const int64_t f[YF_COUNT], bool settingApplies) {
    char text[160];
    const int n = ymdhms_format(f, settingApplies && st->timeTwoDigitYears, text, sizeof text);
    return cell_set_str(st, result, text, static_cast<size_t>(n));
}

void fn_timeymdhms(State* st, int, Cell* result, Cell*, bool) {
    int64_t f[YF_COUNT];
    clock_fields(f, false);
    time_result(st, result, f);
}

// "Wed 2/14/2024 3:04:05 PM": weekday from message 207, the date and time by
// the user's locale.
void fn_timedate(State* st, int, Cell* result, Cell*, bool) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char names[64], date[128], time[128], text[320];
    msg_text(st, 207, names, sizeof names);
    const char* day = strlen(names) >= 3u * (t.wDayOfWeek + 1) ? names + 3 * t.wDayOfWeek : "";
    if (!GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, date, sizeof date) ||
        !GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &t, nullptr, time, sizeof time))
        legacy_date_time(t, date, sizeof date, time, sizeof time);
    const int n = snprintf(text, sizeof text, "%.3s %s %s", day, date, time);
    cell_set_str(st, result, text, static_cast<size_t>(n));
}

// "14:05:09:37": hours, minutes, seconds and hundredths.
void fn_getexacttime(State* st, int, Cell* result, Cell*, bool) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    const char s = time_separator();
    char text[32];
    const int n = snprintf(text, sizeof text, "%02d%c%02d%c%02d%c%02d", t.wHour, s, t.wMinute, s, t.wSecond, s,
                           t.wMilliseconds / 10);
    cell_set_str(st, result, text, static_cast<size_t>(n));
}

void fn_gettickcount(State* st, int, Cell* result, Cell*, bool) {
    cell_set_int(st, result, static_cast<int32_t>(GetTickCount()));
}

void fn_gettickcount64(State* st, int, Cell* result, Cell*, bool) {
    cell_set_int64(st, result, static_cast<int64_t>(GetTickCount64()));
}

void ic_year_digits(State* st, Cell* result, Cell* p) {
    const int previous = st->timeTwoDigitYears ? 0 : 1;
    const int v = ic_int(st, &p[0]);
    if (v == 0 || v == 1) st->timeTwoDigitYears = v == 0;
    ic_previous(st, result, previous);
}
