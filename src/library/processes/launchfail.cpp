// Why a start failed: the error number the script sees and the explanation
// in the detail block (the heading "WinExec Error:" over the system's text).
#include "library/processes/proc_internal.h"
#include "errors.h"
#include <shellapi.h>
#include <cstdio>

namespace proc {

namespace {

// System error codes that keep the old start-failure numbering (1900 + the
// code): their meanings are the ones of the old codes of the same value.
struct CodeNumber {
    DWORD    code;
    uint16_t number;
};
constexpr CodeNumber kStartErrors[] = {
    {ERROR_FILE_NOT_FOUND, 1902},
    {ERROR_PATH_NOT_FOUND, 1903},
    {ERROR_ACCESS_DENIED, 1905},
    {ERROR_NOT_ENOUGH_MEMORY, 1908},
    {ERROR_OUTOFMEMORY, 1900},
    {ERROR_BAD_ENVIRONMENT, 1910},
    {ERROR_BAD_FORMAT, 1911},
    {ERROR_BAD_EXE_FORMAT, 1911},
    {ERROR_EXE_MACHINE_TYPE_MISMATCH, 1911},
    {ERROR_INVALID_NAME, 1902},
    {ERROR_NO_ASSOCIATION, 1933},
};

constexpr uint16_t kStartFailed = 1932;   // "WinExec: Function Failed"
constexpr DWORD kElevationRequired = 740;   // ERROR_ELEVATION_REQUIRED

// The system's text for an error code, without its trailing line end.
std::wstring system_text(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out;
    if (n && text) out.assign(text, n);
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == L'\r' || out.back() == L'\n' || out.back() == L' ')) out.pop_back();
    return out;
}

// "WinExec Error:", two line feeds, four blanks and the explanation (the
// code as a number when the system has no text for it).
void add_detail(State* st, const std::wstring& text, DWORD code) {
    char heading[128], number[128];
    msg_text(st, 868, heading, sizeof heading);
    std::string explanation = ansi_text(st, text.c_str());
    if (explanation.empty()) {
        char format[96];
        const MsgArg arg(static_cast<int>(code));
        msg_format(number, sizeof number, msg_text(st, 9515, format, sizeof format), &arg, 1);
        explanation = number;
    }
    err_detail(st, (std::string(heading) + "\n\n    " + explanation).c_str());
}

// The file name of this process's program (kel.exe or another host).
std::wstring own_program() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return L"This program";
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/') name = p + 1;
    return name;
}

}  // namespace

uint16_t start_error_number(DWORD code) {
    for (const CodeNumber& e : kStartErrors)
        if (e.code == code) return e.number;
    return kStartFailed;
}

void start_failed(State* st, DWORD code, const wchar_t* call, const std::wstring& target) {
    st->err = start_error_number(code);
    platform_error(st, ansi_text(st, call).c_str(), code, false);
    if (code == kElevationRequired) {
        add_detail(st, own_program() + L" does not have sufficient elevation to run " + target + L".  Use ShellExecute?",
                   code);
        return;
    }
    std::wstring text = system_text(code);
    const size_t insert = text.find(L"%1");   // "Bad EXE format for %1."
    if (insert != std::wstring::npos) text.replace(insert, 2, target);
    add_detail(st, text, code);
}

void shell_failed(State* st, uintptr_t shellCode, DWORD lastError) {
    switch (shellCode) {
    case 0: case 2: case 3: case 5: case 8: case 10: case 11:
        st->err = static_cast<uint16_t>(1900 + shellCode);
        break;
    case SE_ERR_NOASSOC:
    case SE_ERR_ASSOCINCOMPLETE:
        st->err = 1933;
        break;
    default:
        st->err = kStartFailed;
    }
    platform_error(st, "ShellExecuteExW", lastError, false);
    const DWORD code = lastError ? lastError : static_cast<DWORD>(shellCode);
    add_detail(st, system_text(code), code);
}

}  // namespace proc
