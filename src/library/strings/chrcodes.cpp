// Character codes and code pages: Char2Num, Num2Char, ChrGetCodePage,
// ChrSetCodePage, ChrStringToUnicode, ChrUnicodeToString.
//
// Double-byte rules follow the state's code page (ChrSetCodePage), the same
// rules every ANSI member of the family uses.
#include "library/strings/strings.h"
#include <cstdlib>

using namespace strings;

// Char2Num(s): the first byte of the ANSI form, or lead x 256 + trail for a
// double-byte character. 0 for an empty string.
void fn_char2num(State* st, int, Cell* result, Cell* args, bool) {
    if (!arg_ansi(st, &args[1])) return;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(cell_str(st, &args[1]));
    const AnsiRules r = ansi_rules(st);
    int32_t code = s[0];
    if (r.lead && r.lead[s[0]] && s[1]) code = s[0] * 256 + s[1];
    cell_set_int(st, result, code);
}

// Num2Char(n): a two-byte character when bits 8-15 of n are a lead byte,
// otherwise the one byte of the low 8 bits (0 gives the empty string).
void fn_num2char(State* st, int, Cell* result, Cell* args, bool) {
    const int32_t n = args[1].i;
    const AnsiRules r = ansi_rules(st);
    const uint8_t high = static_cast<uint8_t>(n >> 8), low = static_cast<uint8_t>(n);
    const char text[3] = {static_cast<char>(r.lead && r.lead[high] ? high : low), static_cast<char>(low), 0};
    const bool pair = r.lead && r.lead[high];
    cell_set_str(st, result, text, pair ? (low ? 2 : 1) : (low ? 1 : 0));
}

// ChrGetCodePage(request): 0 the state's code page, 1 the system locale's
// ANSI code page, 2 the user locale's.
void fn_chrgetcodepage(State* st, int, Cell* result, Cell* args, bool) {
    const int request = args[1].i;
    if (request == 0) {
        cell_set_int(st, result, static_cast<int32_t>(st->codePage));
        return;
    }
    if (request != 1 && request != 2) {
        st->err = 1809;
        return;
    }
    char text[16];
    const LCID locale = request == 1 ? LOCALE_SYSTEM_DEFAULT : LOCALE_USER_DEFAULT;
    if (!GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text)) {
        st->err = 1763;
        return;
    }
    cell_set_int(st, result, atoi(text));
}

// ChrSetCodePage(cp): no check; the code page governs every later conversion
// between the two forms.
void fn_chrsetcodepage(State* st, int, Cell* result, Cell* args, bool) {
    const uint32_t previous = st->codePage;
    st->codePage = static_cast<uint32_t>(args[1].i);
    cell_set_int(st, result, static_cast<int32_t>(previous));
}

// ChrStringToUnicode(s): the dispatcher has widened s with the state's code page.
void fn_chrstringtounicode(State* st, int, Cell* result, Cell* args, bool) {
    const wchar_t* s = cell_wstr(st, &args[1]);
    result_copy(st, result, s, wcslen(s));
}

// ChrUnicodeToString(s): s in the ANSI form of the state's code page.
void fn_chrunicodetostring(State* st, int, Cell* result, Cell* args, bool) {
    const wchar_t* s = cell_wstr(st, &args[1]);
    const UINT cp = st->codePage;
    const int n = WideCharToMultiByte(cp, 0, s, -1, nullptr, 0, nullptr, nullptr);
    char* out = result_alloc<char>(st, result, n > 0 ? static_cast<uint64_t>(n - 1) : 0);
    if (out && n > 1) WideCharToMultiByte(cp, 0, s, -1, out, n, nullptr, nullptr);
}
