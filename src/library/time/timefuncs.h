// The date and time family: the script functions and what they share.
#pragma once
#include "state.h"
#include "library/time/ymdhms.h"

struct BuiltinEntry;
extern const BuiltinEntry g_timeBuiltins[];

// IntControl 41: four-digit years (1, the default) or two-digit years (0).
void ic_year_digits(State* st, Cell* result, Cell* p);

// Stores fields as a YmdHms string result (two-digit years when the state's
// setting asks for them and `settingApplies`). False with 3096.
bool time_result(State* st, Cell* result, const int64_t f[YF_COUNT], bool settingApplies = true);

// The clock as six fields: local time, or UTC with `utc`.
void clock_fields(int64_t f[YF_COUNT], bool utc);

// Waits until the clock (local, or UTC with `utc`) shows `target` or later:
// processes messages, then waits 100 milliseconds at a time. False when the
// stop request ended the wait.
bool wait_until(State* st, const int64_t target[YF_COUNT], bool utc);

// Script functions (args[1..nargs] converted by the keyword table's codes).
void fn_timeymdhms(State*, int, Cell*, Cell*, bool);
void fn_timedate(State*, int, Cell*, Cell*, bool);
void fn_getexacttime(State*, int, Cell*, Cell*, bool);
void fn_gettickcount(State*, int, Cell*, Cell*, bool);
void fn_gettickcount64(State*, int, Cell*, Cell*, bool);
void fn_timeadd(State*, int, Cell*, Cell*, bool);
void fn_timesubtract(State*, int, Cell*, Cell*, bool);
void fn_timediff(State*, int, Cell*, Cell*, bool);
void fn_timediffdays(State*, int, Cell*, Cell*, bool);
void fn_timediffsecs(State*, int, Cell*, Cell*, bool);
void fn_timejulianday(State*, int, Cell*, Cell*, bool);
void fn_timejultoymd(State*, int, Cell*, Cell*, bool);
void fn_timeformat(State*, int, Cell*, Cell*, bool);
void fn_timewait(State*, int, Cell*, Cell*, bool);
void fn_timedelay(State*, int, Cell*, Cell*, bool);
void fn_timezoneconvert(State*, int, Cell*, Cell*, bool);
void fn_timezonelist(State*, int, Cell*, Cell*, bool);

// TimeDelay without waitable timers: whole seconds on the UTC clock, then the
// milliseconds; false when stopped. Exposed so that the tests can run it on
// systems that do have timers. Sets 1021 when the target cannot be computed.
bool delay_without_timer(State* st, double seconds);
