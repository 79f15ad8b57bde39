// TimeFormat(ymdhms, pattern): a YmdHms value in a picture pattern such as
// "ddd d MMM yyyy 'at' HH:mm", formatted by the runtime library's time
// formatter under the user's default locale (month and weekday names, AM/PM).
#include "library/time/timefuncs.h"
#include "value.h"
#include <clocale>
#include <ctime>
#include <cwchar>
#include <string>

namespace {

constexpr size_t kMaxFormat = 2049;   // longest translated format

// The formatter code of a run of `n` equal pattern letters, or nullptr when
// the letter is not a pattern letter. Letters y, M, d use the date; H, h, m, s
// the time.
const wchar_t* code_for(wchar_t c, size_t n, bool* usesDate, bool* usesTime) {
    struct Letter { wchar_t c; bool date; const wchar_t* byLength[4]; };   // runs of 1, 2, 3, 4+
    static const Letter kLetters[] = {
        {L'y', true, {L"%y", L"%y", L"%Y", L"%Y"}},
        {L'M', true, {L"%#m", L"%m", L"%b", L"%B"}},
        {L'd', true, {L"%#d", L"%d", L"%a", L"%A"}},
        {L'H', false, {L"%#H", L"%H", L"%H", L"%H"}},
        {L'h', false, {L"%#I", L"%I", L"%I", L"%I"}},
        {L'm', false, {L"%#M", L"%M", L"%M", L"%M"}},
        {L's', false, {L"%#S", L"%S", L"%S", L"%S"}},
    };
    if (c == L't') return L"%p";
    for (const Letter& l : kLetters) {
        if (l.c != c) continue;
        (l.date ? *usesDate : *usesTime) = true;
        return l.byLength[n < 4 ? n - 1 : 3];
    }
    return nullptr;
}

// Translates the pattern into the formatter's codes. With `year` given, the
// year codes are written as the year's digits instead: the runtime refuses
// two-digit years before 1900 and the digits do not depend on the locale.
std::wstring translate(const wchar_t* p, bool* usesDate, bool* usesTime, const int64_t* year = nullptr) {
    std::wstring out;
    bool quoted = false;
    while (*p) {
        const wchar_t c = *p;
        if (c == L'\'') {
            if (p[1] == L'\'') {   // a doubled quote is one quote character
                out += L'\'';
                p += 2;
            } else {
                quoted = !quoted;
                ++p;
            }
            continue;
        }
        if (c == L'%') {
            out += L"%%";
            ++p;
            continue;
        }
        if (quoted) {
            out += c;
            ++p;
            continue;
        }
        size_t n = 1;
        while (p[n] == c) ++n;
        if (const wchar_t* code = code_for(c, n, usesDate, usesTime)) {
            wchar_t digits[8];
            if (year && c == L'y') {
                swprintf(digits, 8, n >= 3 ? L"%04d" : L"%02d", static_cast<int>(n >= 3 ? *year : *year % 100));
                code = digits;
            }
            out += code;
            p += n;
        } else {
            out += c;
            ++p;
        }
    }
    return out;
}

// Runs the formatter with the process's time locale set to the user's
// default locale, and puts the previous locale back afterwards.
class UserTimeLocale {
public:
    UserTimeLocale() {
        if (const wchar_t* old = _wsetlocale(LC_TIME, nullptr)) saved_ = old;
        _wsetlocale(LC_TIME, L"");
    }
    ~UserTimeLocale() { _wsetlocale(LC_TIME, saved_.empty() ? L"C" : saved_.c_str()); }
    UserTimeLocale(const UserTimeLocale&) = delete;
    UserTimeLocale& operator=(const UserTimeLocale&) = delete;

private:
    std::wstring saved_;
};

// A work buffer from the global heap.
class WorkBuffer {
public:
    explicit WorkBuffer(size_t chars)
        : p_(static_cast<wchar_t*>(GlobalAlloc(GMEM_FIXED, chars * sizeof(wchar_t)))), n_(chars) {}
    ~WorkBuffer() { if (p_) GlobalFree(p_); }
    WorkBuffer(const WorkBuffer&) = delete;
    WorkBuffer& operator=(const WorkBuffer&) = delete;
    wchar_t* get() const { return p_; }
    size_t size() const { return n_; }

private:
    wchar_t* p_;
    size_t n_;
};

}  // namespace

void fn_timeformat(State* st, int, Cell* result, Cell* args, bool) {
    bool usesDate = false, usesTime = false;
    const wchar_t* pattern = cell_wstr(st, &args[2]);
    if (translate(pattern, &usesDate, &usesTime).size() > kMaxFormat) {
        st->err = 3053;
        return;
    }
    const int mode = usesDate ? (usesTime ? YMD_FULL : YMD_DATE) : (usesTime ? YMD_TIME : YMD_SYNTAX);
    int64_t f[YF_COUNT];
    if (!ymdhms_parse(cell_str(st, &args[1]), f, mode, true)) {
        st->err = 1020;
        return;
    }
    if (!usesDate) f[YF_YEAR] = 1900, f[YF_MONTH] = 1, f[YF_DAY] = 1;
    if (!usesTime) f[YF_HOUR] = f[YF_MINUTE] = f[YF_SECOND] = 0;
    const std::wstring format = translate(pattern, &usesDate, &usesTime, &f[YF_YEAR]);
    const int64_t day = day_number(f[YF_YEAR], f[YF_MONTH], f[YF_DAY]);
    struct tm t = {};
    t.tm_year = static_cast<int>(f[YF_YEAR] - 1900);
    t.tm_mon = static_cast<int>(f[YF_MONTH] - 1);
    t.tm_mday = static_cast<int>(f[YF_DAY]);
    t.tm_hour = static_cast<int>(f[YF_HOUR]);
    t.tm_min = static_cast<int>(f[YF_MINUTE]);
    t.tm_sec = static_cast<int>(f[YF_SECOND]);
    t.tm_wday = weekday_of_day(day);
    t.tm_yday = static_cast<int>(day - day_number(f[YF_YEAR], 1, 1));

    WorkBuffer out(format.size() * 64 + 64);   // a name is far shorter than 64 characters per code letter
    if (!out.get()) {
        st->err = 1588;
        return;
    }
    size_t n;
    {
        UserTimeLocale locale;
        n = wcsftime(out.get(), out.size(), format.c_str(), &t);
    }
    if (n == 0 && !format.empty()) {
        st->err = 3053;
        return;
    }
    cell_set_wstr(st, result, out.get(), n);
}
