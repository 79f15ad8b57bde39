// Text arguments: the launcher and the shell work on UTF-16 text, while a
// parameter string may arrive as ANSI text.
#include "library/processes/proc_internal.h"

namespace proc {

namespace {
UINT code_page(const State* st) { return st->codePage ? st->codePage : CP_ACP; }
}  // namespace

std::wstring wide_arg(State* st, const Cell* c) {
    if (c->type & TW_UNICODE) return cell_wstr(st, c);
    if (!(c->type & TW_STRING)) return std::wstring();
    const char* s = cell_str(st, c);
    const int n = MultiByteToWideChar(code_page(st), 0, s, -1, nullptr, 0);
    if (n <= 1) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(code_page(st), 0, s, -1, out.data(), n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string ansi_text(State* st, const wchar_t* text) {
    const int n = WideCharToMultiByte(code_page(st), 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(code_page(st), 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

}  // namespace proc
