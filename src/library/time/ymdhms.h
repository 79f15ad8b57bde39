// YmdHms values: the colon-separated calendar text "YYYY:MM:DD:hh:mm:ss" (or
// the short "YYYY:MM:DD") that every date in the library travels as (time
// functions, file times, dialog calendars, automation dates).
//
// This module owns the parser with its validation modes, the normaliser, the
// day numbers and the text form; every user of YmdHms values goes through it.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>

// Field indexes.
enum : int { YF_YEAR = 0, YF_MONTH, YF_DAY, YF_HOUR, YF_MINUTE, YF_SECOND, YF_COUNT };

// Validation modes of the parser.
enum YmdMode : int {
    YMD_SYNTAX = 0,   // digits and 2 or 5 colons only
    YMD_FULL   = 1,   // a real date and time (hour 24 refused)
    YMD_DATE   = 2,   // a real date; hour 24 becomes 0, the time is not range-checked
    YMD_TIME   = 3,   // only the time is checked
};

// Parses `text` into six fields (missing time fields are 0). `expand` turns a
// year written with at most two digits into 19xx (50-99) or 20xx (0-49).
// False when the text is not valid in `mode`. A field of more than 18 digits
// is refused in every mode, so arithmetic on the fields cannot overflow.
bool ymdhms_parse(const char* text, int64_t fields[YF_COUNT], int mode, bool expand);
// The same into 32-bit fields; a field that does not fit is refused.
bool ymdhms_parse32(const char* text, int32_t fields[YF_COUNT], int mode, bool expand);
// Valid fields as the system's SYSTEMTIME (no day of the week, no milliseconds).
template <class Field>
SYSTEMTIME ymdhms_systemtime(const Field f[YF_COUNT]) {
    SYSTEMTIME s{};
    s.wYear = static_cast<WORD>(f[YF_YEAR]);
    s.wMonth = static_cast<WORD>(f[YF_MONTH]);
    s.wDay = static_cast<WORD>(f[YF_DAY]);
    s.wHour = static_cast<WORD>(f[YF_HOUR]);
    s.wMinute = static_cast<WORD>(f[YF_MINUTE]);
    s.wSecond = static_cast<WORD>(f[YF_SECOND]);
    return s;
}

bool    is_leap_year(int64_t year);
// Days in `month` (1-12) of `year`.
int     month_length(int64_t year, int64_t month);

// Carries seconds, minutes and hours (negative fields borrow), brings the
// month into 1-12 and the day into the month. False when the result lies
// before 0000:01:01 or beyond any year a YmdHms can hold.
bool    ymdhms_normalise(int64_t f[YF_COUNT]);

// Day numbers: day 1 is 0000:01:01 of the proleptic Gregorian calendar (year
// 0 is a leap year); 1970:01:01 is 719529.
int64_t day_number(int64_t year, int64_t month, int64_t day);
// The date of day number n (n >= 1).
void    day_to_date(int64_t n, int64_t* year, int64_t* month, int64_t* day);
// 0 Sunday ... 6 Saturday.
int     weekday_of_day(int64_t n);

// Largest day number the normaliser accepts (far beyond year 9999, far below
// any overflow of the arithmetic).
constexpr int64_t MAX_DAY_NUMBER = 4000000000000LL;

// Writes "%04d:%02d:%02d:%02d:%02d:%02d", or with twoDigitYear the year modulo
// 100 in two digits. Returns the length.
int ymdhms_format(const int64_t f[YF_COUNT], bool twoDigitYear, char* out, size_t size);

// Exported for extenders: the same parser with 32-bit fields; nonzero when valid.
extern "C" int ParseYMDHMS(const char* text, int32_t* fields, int mode, int expand);
