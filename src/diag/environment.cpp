// The environment header that opens a trace (and DebugTrace 208): when, which
// library, which system, the error mode and the security context of the host.
#include "trace_block.h"
#include "errors.h"
#include <softpub.h>
#include <wintrust.h>
#include <cstdio>
#include <cstring>

namespace {

std::string platform_line() {
    const RTL_OSVERSIONINFOW v = system_version();
    const char* platform = v.dwPlatformId == VER_PLATFORM_WIN32_NT        ? "NT"
                         : v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS   ? "9x"
                                                                          : "??";
    char text[160];
    snprintf(text, sizeof text, "Windows platform: %s, version: %lu.%lu, build: %lu", platform,
             v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber);
    return text;
}

bool counters_disabled() {
    DWORD value = 0, size = sizeof value;
    LONG r = RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\PerfProc\\Performance",
                          "Disable Performance Counters", RRF_RT_REG_DWORD, nullptr, &value, &size);
    return r == ERROR_SUCCESS && value != 0;
}

// Whether the host program's file carries a valid signature. The trust
// provider is loaded only here, for the few traces that start.
bool host_signed() {
    wchar_t path[MAX_PATH];
    if (!GetModuleFileNameW(nullptr, path, MAX_PATH)) return false;
    HMODULE lib = LoadLibraryW(L"wintrust.dll");
    if (!lib) return false;
    typedef LONG(WINAPI * VerifyFn)(HWND, GUID*, LPVOID);
    auto verify = reinterpret_cast<VerifyFn>(reinterpret_cast<void*>(GetProcAddress(lib, "WinVerifyTrust")));
    bool ok = false;
    if (verify) {
        WINTRUST_FILE_INFO file{};
        file.cbStruct = sizeof file;
        file.pcwszFilePath = path;
        WINTRUST_DATA data{};
        data.cbStruct = sizeof data;
        data.dwUIChoice = WTD_UI_NONE;
        data.fdwRevocationChecks = WTD_REVOKE_NONE;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &file;
        data.dwStateAction = WTD_STATEACTION_VERIFY;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        ok = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data) == ERROR_SUCCESS;
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    }
    FreeLibrary(lib);
    return ok;
}

// The value of attribute `name` in the requestedExecutionLevel element of
// the host program's manifest, or "" when there is none.
std::string manifest_attribute(const std::string& manifest, const char* name) {
    size_t at = manifest.find("requestedExecutionLevel");
    if (at == std::string::npos) return {};
    size_t end = manifest.find('>', at);
    std::string element = manifest.substr(at, end == std::string::npos ? std::string::npos : end - at);
    size_t a = element.find(std::string(name) + "=");
    if (a == std::string::npos) return {};
    a += strlen(name) + 1;
    if (a >= element.size()) return {};
    const char quote = element[a];
    if (quote != '"' && quote != '\'') return {};
    size_t b = element.find(quote, a + 1);
    return b == std::string::npos ? std::string() : element.substr(a + 1, b - a - 1);
}

std::string manifest_line() {
    std::string manifest;
    HMODULE host = GetModuleHandleW(nullptr);
    HRSRC r = FindResourceW(host, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));   // RT_MANIFEST
    if (r) {
        HGLOBAL g = LoadResource(host, r);
        const char* p = g ? static_cast<const char*>(LockResource(g)) : nullptr;
        if (p) manifest.assign(p, SizeofResource(host, r));
    }
    const std::string level = manifest_attribute(manifest, "level");
    const std::string ui = manifest_attribute(manifest, "uiAccess");
    std::string text = "UAC Manifest Settings:";
    text += " level=" + (level.empty() ? std::string("<none>") : "\"" + level + "\"");
    text += " uiAccess=" + (ui.empty() ? std::string("<none>") : "\"" + ui + "\"");
    return text;
}

const char* elevation_level() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "<Unknown>";
    TOKEN_ELEVATION_TYPE type{};
    DWORD size = 0;
    const char* text = "<Unknown>";
    if (GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size)) {
        switch (type) {
        case TokenElevationTypeFull:    text = "Elevated"; break;
        case TokenElevationTypeLimited: text = "Admin Not Elevated"; break;
        case TokenElevationTypeDefault: text = "Standard User or Disabled"; break;
        default: break;
        }
    } else if (GetLastError() == ERROR_INVALID_PARAMETER) {
        text = "Unsupported Platform";
    }
    CloseHandle(token);
    return text;
}

}  // namespace

const char* trace_error_mode_name(int32_t mode) {
    switch (mode) {
    case EM_CANCEL: return "@CANCEL";
    case EM_NOTIFY: return "@NOTIFY";
    case EM_OFF:    return "@OFF";
    default:        return "???";
    }
}

void trace_environment(State* st, TraceOut& out) {
    const std::string rule = repeat('=', 30);
    out.line(rule);
    out.line(trace_time_date(st));
    out.line(std::string("KEL DLL ") + trace_msg(st, 99));
    out.line(platform_line());
    out.line(std::string("ErrorMode: ") + trace_error_mode_name(st->errorMode));
    if (counters_disabled())
        out.line("Performance counters are disabled (HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\"
                 "PerfProc\\Performance[Disable Performance Counters])");
    out.line(std::string("Valid Code Signature: ") + (host_signed() ? "Yes" : "No"));
    out.line(manifest_line());
    out.line(std::string("UAC Elevation Level: ") + elevation_level());
    out.line(rule);
}
