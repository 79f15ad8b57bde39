// Texts of the trace: values as the records show them, statements as read,
// messages, and the date and time line.
#include "trace_block.h"
#include "errors.h"
#include "eval.h"
#include "exec.h"
#include "value.h"
#include <oleauto.h>
#include <cstdio>

namespace {

// A value text is cut here: a trace line should stay readable, and a loop
// over a megabyte string would otherwise write the megabyte on every pass.
constexpr size_t kMaxValue = 4096;

std::string cut(std::string s) {
    if (s.size() > kMaxValue) {
        s.resize(kMaxValue);
        s += "...";
    }
    return s;
}

std::string from_wide(State* st, const wchar_t* w, int len = -1) {
    const UINT cp = st->codePage ? st->codePage : CP_ACP;
    int n = WideCharToMultiByte(cp, 0, w, len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(cp, 0, w, len, s.data(), n, nullptr, nullptr);
    if (len < 0) s.pop_back();   // the terminator
    return s;
}

std::string quoted(std::string s) {
    std::string q(1, '"');
    q += cut(std::move(s));
    q += '"';
    return q;
}

// An automation value as text; false when it has none (objects, arrays).
// Objects are never asked for a text: that would call their default member,
// and the trace must not run code of the script's objects.
bool variant_text(State* st, const VARIANT& v, std::string* out) {
    const VARTYPE base = v.vt & VT_TYPEMASK;
    if (base == VT_DISPATCH || base == VT_UNKNOWN || (v.vt & VT_ARRAY)) return false;
    if (v.vt == VT_BSTR || v.vt == (VT_BSTR | VT_BYREF)) {
        const BSTR b = v.vt == VT_BSTR ? v.bstrVal : (v.pbstrVal ? *v.pbstrVal : nullptr);
        *out = quoted(b ? from_wide(st, b, static_cast<int>(SysStringLen(b))) : std::string());
        return true;
    }
    VARIANT t;
    VariantInit(&t);
    if (FAILED(VariantChangeType(&t, const_cast<VARIANT*>(&v), 0, VT_BSTR))) return false;
    *out = from_wide(st, t.bstrVal ? t.bstrVal : L"", t.bstrVal ? static_cast<int>(SysStringLen(t.bstrVal)) : 0);
    VariantClear(&t);
    return true;
}

}  // namespace

std::string trace_plain_value(State* st, const Cell* c) {
    const uint32_t type = c->type;
    if (type == 0) return "<undefined>";
    if (type == TW_UNINIT) return "<uninitialized>";
    if (type & TW_ARRAY) return "<array>";
    std::string text;
    if ((type & TW_COMOBJ) == TW_COMOBJ) return "<complex data type>";
    if (type & TW_VARIANT) return variant_text(st, c->var, &text) ? text : "<complex data type>";
    if (type & TW_STRING) return quoted(cell_str(st, c));
    if (type & TW_UNICODE) return quoted(from_wide(st, cell_wstr(st, c)));
    char number[400];
    if (number_text(st, c, number, sizeof number)) return number;
    if (type & TW_FLOAT) return "NAN";
    return "<complex data type>";
}

std::string trace_value_text(State* st, const Cell* c) {
    char type[128];
    type_name(c->type, type, sizeof type, (c->type & TW_VARIANT) ? c->var.vt : 0);
    return std::string(type) + " => " + trace_plain_value(st, c);
}

std::string trace_statement_text(const char* line) {
    // A jump marker stands where the GoTo or GoSub keyword stood: at the start
    // of a statement (the line start, after a label, after Then or Else).
    auto marker_at = [](const char* p) {
        const uint8_t b = static_cast<uint8_t>(p[0]);
        if (b != JM_GOTO && b != JM_GOSUB) return false;
        for (int k = 1; k <= 4; ++k) {
            const uint8_t g = static_cast<uint8_t>(p[k]);
            if (g < 64 || g > 127) return false;
        }
        return true;
    };
    std::string out;
    bool statementStart = true;
    for (const char* p = line; *p;) {
        if (statementStart && marker_at(p)) {
            out += static_cast<uint8_t>(*p) == JM_GOTO ? "goto " : "gosub";
            p += 5;
            statementStart = false;
            continue;
        }
        const char c = *p++;
        out += c;
        if (c == ' ' || c == '\t') {
            // After a blank a statement may start when the word before it was
            // a label, Then or Else.
            const size_t end = out.find_last_not_of(" \t");
            const size_t start = end == std::string::npos ? 0 : out.find_last_of(" \t", end) + 1;
            const std::string word = end == std::string::npos ? "" : out.substr(start, end - start + 1);
            statementStart = (start == 0 && !word.empty() && word[0] == ':') ||
                             _stricmp(word.c_str(), "then") == 0 || _stricmp(word.c_str(), "else") == 0;
        } else {
            statementStart = false;
        }
    }
    // A line that ended with CR LF keeps a blank where the CR stood.
    while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
    return out;
}

std::string trace_msg(State* st, uint32_t id) {
    char text[1100];
    return msg_text(st, id, text, sizeof text);
}

std::string trace_time_date(State* st) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    const std::string days = trace_msg(st, 207);   // "SunMonTueWedThuFriSat"
    std::string day = days.size() >= 21u ? days.substr(t.wDayOfWeek * 3u, 3) : "";
    char date[80], time[80], text[240];
    if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, date, sizeof date) <= 0)
        snprintf(date, sizeof date, "%u/%u/%04u", t.wMonth, t.wDay, t.wYear);
    if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &t, nullptr, time, sizeof time) <= 0)
        snprintf(time, sizeof time, "%02u:%02u:%02u", t.wHour, t.wMinute, t.wSecond);
    snprintf(text, sizeof text, "%s %s %s", day.c_str(), date, time);
    return text;
}
