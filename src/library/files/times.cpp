// File times as YmdHms values: FileTimeGet, FileTimeGetEx, FileYmdHms,
// FileTimeCode, FileTimeSet, FileTimeSetEx, FileTimeTouch. Times are local
// unless the universal-time setting is on.
#include "library/files/filelist.h"
#include "library/time/ymdhms.h"

namespace {

// Time fields: 1 creation, 2 last write, 3 last access.
bool valid_field(int f) { return f >= 1 && f <= 3; }

bool read_times(State* st, const Cell* arg, WIN32_FILE_ATTRIBUTE_DATA* d) {
    WidePath p;
    if (!file_long_path(st, arg, &p)) return false;
    if (GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, d)) return true;
    st->err = 1125;
    return false;
}

const FILETIME& pick(const WIN32_FILE_ATTRIBUTE_DATA& d, int field) {
    return field == 1 ? d.ftCreationTime : field == 3 ? d.ftLastAccessTime : d.ftLastWriteTime;
}

SYSTEMTIME shown(State* st, const FILETIME& ft) {
    FILETIME t = ft;
    if (!file_settings(st).utc) FileTimeToLocalFileTime(&ft, &t);
    SYSTEMTIME s{};
    FileTimeToSystemTime(&t, &s);
    return s;
}

void ymdhms_result(State* st, Cell* result, const FILETIME& ft) {
    const std::wstring text = file_time_text(st, ft);
    set_text_result(st, result, text, false);
}

// The YmdHms text as a system file time (from local time unless the setting
// says universal). False when it is not a valid date and time.
bool parse_time(State* st, const char* text, FILETIME* out) {
    int32_t f[YF_COUNT];
    if (!ymdhms_parse32(text, f, YMD_FULL, true) || f[YF_YEAR] < 1601 || f[YF_YEAR] > 30827) return false;
    const SYSTEMTIME s = ymdhms_systemtime(f);
    FILETIME t;
    if (!SystemTimeToFileTime(&s, &t)) return false;
    if (file_settings(st).utc) *out = t;
    else if (!LocalFileTimeToFileTime(&t, out)) return false;
    return true;
}

// Sets one time field of every file of the list.
void set_times(State* st, Cell* result, const Cell* list, const FILETIME& ft, int field, int failure) {
    const bool ok = for_each_entry(st, cell_wstr(st, list), ListOptions{}, [&](const FoundEntry& e) {
        ScopedHandle h(open_file(e.path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 OPEN_EXISTING));
        if (h.ok() && SetFileTime(h.get(), field == 1 ? &ft : nullptr, field == 3 ? &ft : nullptr,
                                  field == 2 ? &ft : nullptr))
            return true;
        platform_error(st, "SetFileTime", GetLastError());
        st->err = static_cast<uint16_t>(failure);
        return false;
    });
    cell_set_int(st, result, ok ? 1 : 0);
}

void set_from_text(State* st, Cell* result, Cell* args, int field) {
    FILETIME ft;
    if (!parse_time(st, cell_str(st, &args[2]), &ft)) {
        st->err = 1711;
        return;
    }
    set_times(st, result, &args[1], ft, field, 1128);
}

}  // namespace

std::wstring file_time_text(State* st, const FILETIME& ft) {
    const SYSTEMTIME s = shown(st, ft);
    const int64_t f[YF_COUNT] = {s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond};
    char text[40];
    const int n = ymdhms_format(f, false, text, sizeof text);
    return std::wstring(text, text + n);
}

// FileTimeGet(filename) and FileYmdHms(filename): the last write time.
void fn_filetimeget(State* st, int, Cell* result, Cell* args, bool) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (read_times(st, &args[1], &d)) ymdhms_result(st, result, d.ftLastWriteTime);
}
void fn_fileymdhms(State* st, int n, Cell* result, Cell* args, bool w) { fn_filetimeget(st, n, result, args, w); }

// FileTimeGetEx(filename, field)
void fn_filetimegetex(State* st, int, Cell* result, Cell* args, bool) {
    if (!valid_field(args[2].i)) {
        st->err = 1569;
        return;
    }
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (read_times(st, &args[1], &d)) ymdhms_result(st, result, pick(d, args[2].i));
}

// FileTimeCode(filename): the last write time packed into one number that
// orders like the time: the date in the high 16 bits (years from 1980 in
// bits 9-15, month in 5-8, day in 0-4) and the time in the low 16 bits
// (hour in 11-15, minute in 5-10, seconds / 2 in 0-4).
void fn_filetimecode(State* st, int, Cell* result, Cell* args, bool) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!read_times(st, &args[1], &d)) return;
    const SYSTEMTIME s = shown(st, d.ftLastWriteTime);
    const int year = s.wYear < 1980 ? 0 : s.wYear > 2107 ? 127 : s.wYear - 1980;
    const uint32_t date = static_cast<uint32_t>(year << 9 | s.wMonth << 5 | s.wDay);
    const uint32_t time = static_cast<uint32_t>(s.wHour << 11 | s.wMinute << 5 | s.wSecond / 2);
    size_result(st, result, uint64_t(date) << 16 | time, 0, true);   // 64-bit from 2044 on, so larger stays later
}

// FileTimeSet(file-list, datetime): the last write time.
void fn_filetimeset(State* st, int, Cell* result, Cell* args, bool) { set_from_text(st, result, args, 2); }

// FileTimeSetEx(file-list, datetime, field)
void fn_filetimesetex(State* st, int, Cell* result, Cell* args, bool) {
    if (!valid_field(args[3].i)) {
        st->err = 1569;
        return;
    }
    set_from_text(st, result, args, args[3].i);
}

// FileTimeTouch(file-list): the last write time becomes now.
void fn_filetimetouch(State* st, int, Cell* result, Cell* args, bool) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    set_times(st, result, &args[1], now, 2, 1128);
}
