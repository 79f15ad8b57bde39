// Calendar arithmetic on YmdHms values: TimeAdd, TimeSubtract, TimeDiff,
// TimeDiffDays, TimeDiffSecs, TimeJulianDay, TimeJulToYmd.
#include "library/time/timefuncs.h"
#include "value.h"
#include <algorithm>
#include <cstdlib>

namespace {

// An operand (full validation, two-digit years expanded) and a delta (syntax
// only, taken as written).
bool parse_operand(State* st, const Cell* c, int64_t f[YF_COUNT]) {
    return ymdhms_parse(cell_str(st, c), f, YMD_FULL, true);
}
bool parse_delta(State* st, const Cell* c, int64_t f[YF_COUNT]) {
    if (!ymdhms_parse(cell_str(st, c), f, YMD_SYNTAX, false)) return false;
    f[YF_DAY] += f[YF_SECOND] / 86400;   // whole days of seconds count as days
    f[YF_SECOND] %= 86400;
    return true;
}

// Base plus (sign +1) or minus (sign -1) a delta. Years and months move first
// and the base day is clamped to the month they reach (January 31 plus one
// month is the end of February); then days, hours, minutes and seconds are
// applied and the whole normalised.
bool shift(const int64_t base[YF_COUNT], const int64_t delta[YF_COUNT], int sign, int64_t r[YF_COUNT]) {
    r[YF_YEAR] = base[YF_YEAR] + sign * delta[YF_YEAR];
    int64_t months = base[YF_MONTH] - 1 + sign * delta[YF_MONTH];
    const int64_t years = months >= 0 ? months / 12 : -((11 - months) / 12);
    r[YF_YEAR] += years;
    r[YF_MONTH] = months - years * 12 + 1;
    r[YF_DAY] = std::min<int64_t>(base[YF_DAY], month_length(r[YF_YEAR], r[YF_MONTH]));
    for (int k = YF_DAY; k < YF_COUNT; ++k) r[k] = (k == YF_DAY ? r[k] : base[k]) + sign * delta[k];
    return ymdhms_normalise(r);
}

void fn_add_or_subtract(State* st, Cell* result, Cell* args, int sign, uint16_t error) {
    int64_t base[YF_COUNT], delta[YF_COUNT], r[YF_COUNT];
    if (!parse_operand(st, &args[1], base) || !parse_delta(st, &args[2], delta) || !shift(base, delta, sign, r) ||
        r[YF_YEAR] > 9999) {
        st->err = error;
        return;
    }
    time_result(st, result, r);
}

// Length that a month borrowed by TimeDiff adds to the day difference: the
// month before the first operand's month, adjusted by the second operand's
// day where that day does not exist in the borrowed month.
int64_t borrowed_month(const int64_t a[YF_COUNT], const int64_t b[YF_COUNT]) {
    const int64_t prev = a[YF_MONTH] == 1 ? 12 : a[YF_MONTH] - 1;
    const int len = month_length(b[YF_YEAR], prev);
    if (prev == 2) return len + std::max<int64_t>(0, b[YF_DAY] - len);
    if (len == 30) return b[YF_DAY] == 31 ? 31 : 30;
    return len;
}

// Two operands for TimeDiffDays / TimeDiffSecs; 1017 when either is invalid.
bool parse_pair(State* st, Cell* args, int64_t a[YF_COUNT], int64_t b[YF_COUNT]) {
    if (parse_operand(st, &args[1], a) && parse_operand(st, &args[2], b)) return true;
    st->err = 1017;
    return false;
}

}  // namespace

void fn_timeadd(State* st, int, Cell* result, Cell* args, bool) {
    fn_add_or_subtract(st, result, args, +1, 1019);
}

void fn_timesubtract(State* st, int, Cell* result, Cell* args, bool) {
    fn_add_or_subtract(st, result, args, -1, 1462);
}

// Field-wise difference first minus second, borrowing downwards.
void fn_timediff(State* st, int, Cell* result, Cell* args, bool) {
    int64_t a[YF_COUNT], b[YF_COUNT], d[YF_COUNT];
    if (!parse_operand(st, &args[1], a) || !parse_operand(st, &args[2], b)) {
        st->err = 1462;
        return;
    }
    for (int k = 0; k < YF_COUNT; ++k) d[k] = a[k] - b[k];
    if (d[YF_SECOND] < 0) d[YF_SECOND] += 60, --d[YF_MINUTE];
    if (d[YF_MINUTE] < 0) d[YF_MINUTE] += 60, --d[YF_HOUR];
    if (d[YF_HOUR] < 0) d[YF_HOUR] += 24, --d[YF_DAY];
    const int64_t borrow = borrowed_month(a, b);
    do {
        if (d[YF_MONTH] < 0) d[YF_MONTH] += 12, --d[YF_YEAR];
        while (d[YF_DAY] < 0) d[YF_DAY] += borrow, --d[YF_MONTH];
    } while (d[YF_MONTH] < 0);
    if (d[YF_YEAR] < 0) {   // the first operand is the earlier one
        st->err = 1462;
        return;
    }
    time_result(st, result, d);
}

void fn_timediffdays(State* st, int, Cell* result, Cell* args, bool) {
    int64_t a[YF_COUNT], b[YF_COUNT];
    if (!parse_pair(st, args, a, b)) return;
    const int64_t days = day_number(a[YF_YEAR], a[YF_MONTH], a[YF_DAY]) - day_number(b[YF_YEAR], b[YF_MONTH], b[YF_DAY]);
    cell_set_int(st, result, static_cast<int32_t>(days));
}

// Seconds from the second moment to the first; up to 22000 days apart (the
// result then still fits in 32 bits).
void fn_timediffsecs(State* st, int, Cell* result, Cell* args, bool) {
    int64_t a[YF_COUNT], b[YF_COUNT];
    if (!parse_pair(st, args, a, b)) return;
    const int64_t days = day_number(a[YF_YEAR], a[YF_MONTH], a[YF_DAY]) - day_number(b[YF_YEAR], b[YF_MONTH], b[YF_DAY]);
    if (std::llabs(days) >= 22001) {
        st->err = 1018;
        return;
    }
    const int64_t secs = ((days * 24 + a[YF_HOUR] - b[YF_HOUR]) * 60 + a[YF_MINUTE] - b[YF_MINUTE]) * 60 +
                         a[YF_SECOND] - b[YF_SECOND];
    cell_set_int(st, result, static_cast<int32_t>(secs));
}

void fn_timejulianday(State* st, int, Cell* result, Cell* args, bool) {
    int64_t f[YF_COUNT];
    if (!ymdhms_parse(cell_str(st, &args[1]), f, YMD_DATE, true)) {
        st->err = 1020;
        return;
    }
    cell_set_int(st, result, static_cast<int32_t>(day_number(f[YF_YEAR], f[YF_MONTH], f[YF_DAY])));
}

void fn_timejultoymd(State* st, int, Cell* result, Cell* args, bool) {
    if (args[1].i < 1) {
        st->err = 1461;
        return;
    }
    int64_t f[YF_COUNT] = {};
    day_to_date(args[1].i, &f[YF_YEAR], &f[YF_MONTH], &f[YF_DAY]);
    f[YF_YEAR] %= 10000;
    time_result(st, result, f);
}
