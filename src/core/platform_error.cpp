// The platform-error record: what a library function does when a system call
// fails under it. The code is remembered in the settings file (so a support
// person can read the last failure after the fact) and, when the caller asks,
// explained in the detail block of the error the function raises.
#include "errors.h"
#include <cstdio>

bool settings_file_path(char* out, size_t size) {
    char dir[MAX_PATH];
    UINT n = GetWindowsDirectoryA(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    int len = snprintf(out, size, "%s\\CORVEXRC.INI", dir);
    return len > 0 && static_cast<size_t>(len) < size;
}

void platform_error(State* st, const char* call, DWORD code, bool addDetail) {
    char path[MAX_PATH + 16];
    char number[24];
    snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(code));
    if (settings_file_path(path, sizeof path)) WritePrivateProfileStringA("CXDXA64I", "LastError", number, path);
    if (!addDetail || !st) return;
    char text[128];
    snprintf(text, sizeof text, "%s error:\n\n    %ld", call ? call : "", static_cast<long>(code));
    err_detail(st, text);
}
