#include "report.h"
#include <cwctype>
#include "streams.h"

static void add_line(std::wstring& out, const std::wstring& line)
{
    if (line.empty()) return;
    if (!out.empty()) out += L"\r\n";
    out += line;
}

// Line ends inside texts (the detail block uses LF and a 0xA0 separator line)
// become CR LF so the report reads the same on a console and in a file.
static std::wstring normalise(const std::wstring& s)
{
    std::wstring out;
    for (size_t i = 0; i < s.size(); ++i) {
        wchar_t c = s[i];
        if (c == L'\r') continue;
        if (c == L'\n') { out += L"\r\n"; continue; }
        if (c == L'\xA0' && (i + 1 == s.size() || s[i + 1] == L'\n' || s[i + 1] == L'\r')
            && (i == 0 || s[i - 1] == L'\n')) continue;   // the separator's blank line marker
        out += c;
    }
    while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r')) out.pop_back();
    return out;
}

std::wstring format_report(const KelReport* r)
{
    std::wstring out;
    std::wstring numbered = from_ansi(r->numbered);
    if (r->kind == 0) {
        // "3062:  Attempt to divide by zero" -> "Error 3062: Attempt to divide by zero"
        size_t digits = 0;
        while (digits < numbered.size() && iswdigit(numbered[digits])) ++digits;
        if (digits > 0 && digits < numbered.size() && numbered[digits] == L':') {
            size_t text = digits + 1;
            while (text < numbered.size() && numbered[text] == L' ') ++text;
            numbered = L"Error " + numbered.substr(0, digits) + L": " + numbered.substr(text);
        }
        add_line(out, normalise(numbered.empty() ? from_ansi(r->title) : numbered));
        add_line(out, normalise(from_ansi(r->location)));
        std::wstring stmt = from_ansi(r->statement);
        if (!stmt.empty()) add_line(out, L"Statement: " + normalise(stmt));
        add_line(out, normalise(from_ansi(r->detail)));
    } else {
        // Any other box: its title and its text.
        std::wstring title = from_ansi(r->title);
        std::wstring text = normalise(from_ansi(r->statement && *r->statement ? r->statement : r->numbered));
        add_line(out, title.empty() ? text : (text.empty() ? title : title + L": " + text));
        add_line(out, normalise(from_ansi(r->detail)));
    }
    return out;
}

int print_report(void*, const KelReport* r)
{
    if (!r) return 0;
    std_err().write_line(format_report(r));
    return 1;
}
