// The date and time family's table of built-in functions.
#include "library/time/timefuncs.h"
#include "dispatch.h"
#include "keyword_ids.h"

extern const BuiltinEntry g_timeBuiltins[] = {
    {KW_DATETIME, fn_timedate},
    {KW_DELAY, fn_timedelay},
    {KW_GETEXACTTIME, fn_getexacttime},
    {KW_GETTICKCOUNT, fn_gettickcount},
    {KW_GETTICKCOUNT64, fn_gettickcount64},
    {KW_TIMEADD, fn_timeadd},
    {KW_TIMEDATE, fn_timedate},
    {KW_TIMEDELAY, fn_timedelay},
    {KW_TIMEDIFF, fn_timediff},
    {KW_TIMEDIFFDAYS, fn_timediffdays},
    {KW_TIMEDIFFSECS, fn_timediffsecs},
    {KW_TIMEFORMAT, fn_timeformat},
    {KW_TIMEJULIANDAY, fn_timejulianday},
    {KW_TIMEJULTOYMD, fn_timejultoymd},
    {KW_TIMESUBTRACT, fn_timesubtract},
    {KW_TIMEWAIT, fn_timewait},
    {KW_TIMEYMDHMS, fn_timeymdhms},
    {KW_TIMEZONECONVERT, fn_timezoneconvert},
    {KW_TIMEZONELIST, fn_timezonelist},
    {0, nullptr},
};
