// YmdHms parsing, normalisation, day numbers and text form (see ymdhms.h).
#include "library/time/ymdhms.h"
#include <cstdio>
#include <cstring>

namespace {

constexpr int64_t kFieldLimit = 999999999999999999LL;   // 18 digits

// Floor division and the matching remainder (0 <= r < d for d > 0).
int64_t floor_div(int64_t a, int64_t d) { return a / d - ((a % d != 0) && ((a < 0) != (d < 0))); }
int64_t floor_mod(int64_t a, int64_t d) { return a - floor_div(a, d) * d; }

// Moves whole units of `from` (each `size` of them) into `into`, leaving 0..size-1.
void carry(int64_t& from, int64_t& into, int64_t size) {
    into += floor_div(from, size);
    from = floor_mod(from, size);
}

}  // namespace

bool is_leap_year(int64_t year) {
    return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
}

int month_length(int64_t year, int64_t month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2) return is_leap_year(year) ? 29 : 28;
    return month >= 1 && month <= 12 ? kDays[month - 1] : 31;
}

bool ymdhms_parse(const char* text, int64_t f[YF_COUNT], int mode, bool expand) {
    for (int k = 0; k < YF_COUNT; ++k) f[k] = 0;
    if (!text || strstr(text, "::")) return false;
    int field = 0, colons = 0, yearDigits = 0;
    for (const char* p = text; *p; ++p) {
        if (*p == ':') {
            if (field == YF_COUNT - 1) break;   // a seventh field would start: stop reading
            ++field;
            ++colons;
        } else if (*p >= '0' && *p <= '9') {
            f[field] = f[field] * 10 + (*p - '0');
            if (f[field] > kFieldLimit) return false;
            if (field == YF_YEAR) ++yearDigits;
        } else {
            return false;
        }
    }
    if (colons != 2 && colons != 5) return false;
    if (mode == YMD_SYNTAX) return true;

    if (mode == YMD_DATE) {
        if (f[YF_HOUR] == 24) f[YF_HOUR] = 0;
    } else if (f[YF_HOUR] > 23 || f[YF_MINUTE] > 59 || f[YF_SECOND] > 59) {
        return false;
    }
    if (mode == YMD_TIME) return true;

    if (f[YF_DAY] == 0 || f[YF_MONTH] == 0 || f[YF_MONTH] > 12 || yearDigits > 4) return false;
    if (expand && yearDigits <= 2) f[YF_YEAR] += f[YF_YEAR] < 50 ? 2000 : 1900;
    return f[YF_DAY] <= month_length(f[YF_YEAR], f[YF_MONTH]);
}

bool ymdhms_parse32(const char* text, int32_t out[YF_COUNT], int mode, bool expand) {
    int64_t f[YF_COUNT];
    const bool ok = ymdhms_parse(text, f, mode, expand);
    for (int k = 0; k < YF_COUNT; ++k) {
        if (f[k] > INT32_MAX) return false;
        out[k] = static_cast<int32_t>(f[k]);
    }
    return ok;
}

extern "C" int ParseYMDHMS(const char* text, int32_t* fields, int mode, int expand) {
    int32_t f[YF_COUNT];
    const bool ok = ymdhms_parse32(text, f, mode, expand != 0);
    if (fields) memcpy(fields, f, sizeof f);
    return ok ? 1 : 0;
}

// The March-based count: months are numbered from March so that the leap day
// ends the year; 146037 shifts it so that 0000:01:01 is day 1.
int64_t day_number(int64_t year, int64_t month, int64_t day) {
    const int64_t m = month + 9;
    const int64_t y = year + m / 12 + 399;
    const int64_t d = ((m % 12) * 153 + 2) / 5;
    return 365 * y + y / 4 - y / 100 + y / 400 + d + day - 146037;
}

void day_to_date(int64_t number, int64_t* year, int64_t* month, int64_t* day) {
    const int64_t n = number + 146037;
    const int64_t y0 = 400 * n / 146097;
    int64_t r = n - (365 * y0 + y0 / 4 - y0 / 100 + y0 / 400);
    const int64_t len = (y0 + 1) % 4 == 0 ? 366 : 365;
    int64_t y = y0 + r / len;
    r %= len;
    if (r == 0) {   // the last day of the previous March-based year
        r = y % 4 == 0 ? 366 : 365;
        --y;
    }
    const int64_t t = 5 * r - 3;
    const int64_t p = t / 153;
    const int64_t c = (p + 2) / 12;
    *day = (t - 153 * p) / 5 + 1;
    *month = p + 3 - 12 * c;
    *year = y + c - 400;
}

int weekday_of_day(int64_t n) {
    return static_cast<int>(floor_mod(n + 5, 7));   // day 719529 (1970:01:01) was a Thursday
}

bool ymdhms_normalise(int64_t f[YF_COUNT]) {
    carry(f[YF_SECOND], f[YF_MINUTE], 60);
    carry(f[YF_MINUTE], f[YF_HOUR], 60);
    carry(f[YF_HOUR], f[YF_DAY], 24);
    f[YF_MONTH] -= 1;
    carry(f[YF_MONTH], f[YF_YEAR], 12);
    f[YF_MONTH] += 1;
    // Walking the day into its month one month at a time is the same as
    // counting it from the first of the month: do that through day numbers.
    if (f[YF_YEAR] < -399 || f[YF_YEAR] > MAX_DAY_NUMBER / 365) return false;
    const int64_t first = day_number(f[YF_YEAR], f[YF_MONTH], 1);
    if (f[YF_DAY] < 2 - first || f[YF_DAY] - 1 > MAX_DAY_NUMBER - first) return false;   // day number 1 .. MAX
    day_to_date(first + f[YF_DAY] - 1, &f[YF_YEAR], &f[YF_MONTH], &f[YF_DAY]);
    return true;
}

int ymdhms_format(const int64_t f[YF_COUNT], bool twoDigitYear, char* out, size_t size) {
    const long long year = twoDigitYear ? f[YF_YEAR] % 100 : f[YF_YEAR];
    return snprintf(out, size, twoDigitYear ? "%02lld:%02lld:%02lld:%02lld:%02lld:%02lld"
                                            : "%04lld:%02lld:%02lld:%02lld:%02lld:%02lld",
                    year, static_cast<long long>(f[YF_MONTH]), static_cast<long long>(f[YF_DAY]),
                    static_cast<long long>(f[YF_HOUR]), static_cast<long long>(f[YF_MINUTE]),
                    static_cast<long long>(f[YF_SECOND]));
}
