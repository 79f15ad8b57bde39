// System queries and settings of the window manager: WinMetrics, WinParmGet,
// WinParmSet, WinResources, WinSysInfo, WinVersion, WinConfig and WinHelp.
// Each request is a row of a table.
#include "library/windows/win_internal.h"
#include "library/strings/strings.h"
#include "errors.h"
#include "eval.h"
#include <cwchar>

namespace win {

namespace {

// ---- WinMetrics: negative requests read the screen's device capabilities ----
struct DeviceCap {
    int request;
    int index;
};
const DeviceCap kDeviceCaps[] = {
    {-1, BITSPIXEL}, {-2, LOGPIXELSX}, {-3, LOGPIXELSY}, {-4, VREFRESH}, {-5, HORZSIZE}, {-6, VERTSIZE},
};

// ---- WinParmGet / WinParmSet: system parameters by their read action -------
enum ParmKind : uint8_t {
    PARM_UI,     // read as an int through pvParam; written through uiParam
    PARM_PV,     // read as an int through pvParam; written as the pvParam value itself
    PARM_TEXT,   // read as text through pvParam; written as text through pvParam
};
struct SystemParm {
    UINT     get, set;
    ParmKind kind;
};
const SystemParm kParms[] = {
    {SPI_GETBEEP, SPI_SETBEEP, PARM_UI},
    {SPI_GETBORDER, SPI_SETBORDER, PARM_UI},
    {SPI_GETKEYBOARDSPEED, SPI_SETKEYBOARDSPEED, PARM_UI},
    {SPI_GETSCREENSAVETIMEOUT, SPI_SETSCREENSAVETIMEOUT, PARM_UI},
    {SPI_GETSCREENSAVEACTIVE, SPI_SETSCREENSAVEACTIVE, PARM_UI},
    {SPI_GETKEYBOARDDELAY, SPI_SETKEYBOARDDELAY, PARM_UI},
    {SPI_GETMENUDROPALIGNMENT, SPI_SETMENUDROPALIGNMENT, PARM_UI},
    {SPI_GETDRAGFULLWINDOWS, SPI_SETDRAGFULLWINDOWS, PARM_UI},
    {SPI_GETFONTSMOOTHING, SPI_SETFONTSMOOTHING, PARM_UI},
    {SPI_GETSNAPTODEFBUTTON, SPI_SETSNAPTODEFBUTTON, PARM_UI},
    {SPI_GETWHEELSCROLLLINES, SPI_SETWHEELSCROLLLINES, PARM_UI},
    {SPI_GETMOUSESPEED, SPI_SETMOUSESPEED, PARM_PV},
    {SPI_GETFOREGROUNDLOCKTIMEOUT, SPI_SETFOREGROUNDLOCKTIMEOUT, PARM_PV},
    {SPI_GETCARETWIDTH, SPI_SETCARETWIDTH, PARM_PV},
    {SPI_GETDESKWALLPAPER, SPI_SETDESKWALLPAPER, PARM_TEXT},
};

const SystemParm* find_parm(State* st, int request) {
    for (const SystemParm& p : kParms)
        if (static_cast<int>(p.get) == request) return &p;
    st->err = 1217;
    return nullptr;
}

// ---- WinHelp commands ----------------------------------------------------------
enum HelpParam : uint8_t { HP_NONE, HP_TEXT, HP_NUMBER };
struct HelpCommand {
    const wchar_t* name;
    UINT           command;   // WinHelp command
    UINT           html;      // the same request of the HTML help viewer
    HelpParam      param;
};
const HelpCommand kHelpCommands[] = {
    {L"CONTENTS", HELP_FINDER, 0x0001 /* HH_DISPLAY_TOC */, HP_NONE},
    {L"KEY", HELP_KEY, 0x0002 /* HH_DISPLAY_INDEX */, HP_TEXT},
    {L"PARTIALKEY", HELP_PARTIALKEY, 0x0002, HP_TEXT},
    {L"CONTEXT", HELP_CONTEXT, 0x000F /* HH_HELP_CONTEXT */, HP_NUMBER},
    {L"COMMAND", HELP_COMMAND, 0x0000 /* HH_DISPLAY_TOPIC */, HP_TEXT},
    {L"HELPONHELP", HELP_HELPONHELP, 0x0000, HP_NONE},
    {L"QUIT", HELP_QUIT, 0x0012 /* HH_CLOSE_ALL */, HP_NONE},
};

typedef HWND(WINAPI* HtmlHelpFn)(HWND, LPCWSTR, UINT, DWORD_PTR);

bool ends_with_chm(const std::wstring& f) { return f.size() > 4 && _wcsicmp(f.c_str() + f.size() - 4, L".chm") == 0; }

// The HTML help viewer's entry; its module stays loaded for the viewer's windows.
HtmlHelpFn html_help() {
    static const HtmlHelpFn fn = [] {
        HMODULE hh = LoadLibraryW(L"hhctrl.ocx");
        return hh ? reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(GetProcAddress(hh, "HtmlHelpW"))) : nullptr;
    }();
    return fn;
}

}  // namespace

}  // namespace win

using namespace win;

// WinMetrics(request): GetSystemMetrics for 0 and up; -1 colour bits per
// pixel, -2 / -3 horizontal / vertical dots per inch, -4 refresh rate, -5 /
// -6 screen width / height in millimetres.
void fn_winmetrics(State* st, int, Cell* result, Cell* args, bool) {
    const int request = args[1].i;
    if (request >= 0) {
        cell_set_int(st, result, GetSystemMetrics(request));
        return;
    }
    for (const DeviceCap& d : kDeviceCaps) {
        if (d.request != request) continue;
        HDC dc = GetDC(nullptr);
        if (!dc) {
            st->err = 3124;
            return;
        }
        const int v = GetDeviceCaps(dc, d.index);
        ReleaseDC(nullptr, dc);
        cell_set_int(st, result, v);
        return;
    }
    st->err = 1217;
}

// WinParmGet(request): a system parameter, named by the system's read action.
void fn_winparmget(State* st, int, Cell* result, Cell* args, bool) {
    const SystemParm* p = find_parm(st, args[1].i);
    if (!p) return;
    if (p->kind == PARM_TEXT) {
        wchar_t text[MAX_PATH * 2] = L"";
        if (!SystemParametersInfoW(p->get, MAX_PATH * 2, text, 0)) {
            st->err = 3124;
            return;
        }
        set_text(st, result, text);
        return;
    }
    int v = 0;
    if (!SystemParametersInfoW(p->get, 0, &v, 0)) {
        st->err = 3124;
        return;
    }
    cell_set_int(st, result, v);
}

// WinParmSet(request, value, flags): changes a system parameter (the request
// is its read action, as for WinParmGet). Flags: 1 store it in the user's
// profile, 2 tell every window; 3 both. Returns 1.
void fn_winparmset(State* st, int, Cell* result, Cell* args, bool) {
    const SystemParm* p = find_parm(st, args[1].i);
    if (!p) return;
    const int flags = args[3].i;
    if (flags < 0 || flags > 3) {
        st->err = 1217;
        return;
    }
    const UINT spif = (flags & 1 ? SPIF_UPDATEINIFILE : 0) | (flags & 2 ? SPIF_SENDCHANGE : 0);
    Cell& value = args[2];
    BOOL ok;
    if (p->kind == PARM_TEXT) {
        if (!strings::arg_wide(st, &value)) return;
        ok = SystemParametersInfoW(p->set, 0, const_cast<wchar_t*>(cell_wstr(st, &value)), spif);
    } else {
        if (!conv_to_int(st, &value, true, false)) {
            if (!st->err) st->err = 3057;
            return;
        }
        const int v = value.i;
        ok = p->kind == PARM_UI ? SystemParametersInfoW(p->set, static_cast<UINT>(v), nullptr, spif)
                                : SystemParametersInfoW(p->set, 0, reinterpret_cast<void*>(static_cast<intptr_t>(v)), spif);
    }
    if (!ok) {
        st->err = 3197;
        return;
    }
    cell_set_int(st, result, 1);
}

// WinResources(request [, reserved]): 0 memory load in percent; 1 / 2 total /
// free physical memory, 3 / 4 total / free paging space, 5 / 6 total / free
// address space of this program, in bytes.
void fn_winresources(State* st, int, Cell* result, Cell* args, bool) {
    MEMORYSTATUSEX ms{};
    ms.dwLength = sizeof ms;
    const int request = args[1].i;
    if (request < 0 || request > 6) {
        st->err = 1217;
        return;
    }
    if (!GlobalMemoryStatusEx(&ms)) {
        st->err = 3124;
        return;
    }
    const DWORDLONG v[] = {ms.dwMemoryLoad, ms.ullTotalPhys, ms.ullAvailPhys, ms.ullTotalPageFile,
                           ms.ullAvailPageFile, ms.ullTotalVirtual, ms.ullAvailVirtual};
    if (request == 0) cell_set_int(st, result, static_cast<int32_t>(v[0]));
    else cell_set_int64(st, result, static_cast<int64_t>(v[request]));
}

// WinSysInfo(): the processor count, page size, processor architecture,
// processor level, processor revision and allocation granularity, separated
// by commas.
void fn_winsysinfo(State* st, int, Cell* result, Cell*, bool) {
    SYSTEM_INFO si;
    GetNativeSystemInfo(&si);
    wchar_t text[128];
    swprintf(text, 128, L"%lu,%lu,%u,%u,%u,%lu", si.dwNumberOfProcessors, si.dwPageSize,
             si.wProcessorArchitecture, si.wProcessorLevel, si.wProcessorRevision, si.dwAllocationGranularity);
    set_text(st, result, text);
}

// WinVersion(request): 0 minor version, 1 major version, 2 build number, 3
// platform (2: the NT family), 4 the service-pack text, 5 "major.minor.build".
void fn_winversion(State* st, int, Cell* result, Cell* args, bool) {
    const RTL_OSVERSIONINFOW v = system_version();
    wchar_t text[160];
    switch (args[1].i) {
    case 0: cell_set_int(st, result, static_cast<int32_t>(v.dwMinorVersion)); return;
    case 1: cell_set_int(st, result, static_cast<int32_t>(v.dwMajorVersion)); return;
    case 2: cell_set_int(st, result, static_cast<int32_t>(v.dwBuildNumber)); return;
    case 3: cell_set_int(st, result, static_cast<int32_t>(v.dwPlatformId)); return;
    case 4: set_text(st, result, v.szCSDVersion); return;
    case 5:
        swprintf(text, 160, L"%lu.%lu.%lu", v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber);
        set_text(st, result, text);
        return;
    default: st->err = 1217; return;
    }
}

// WinConfig(): the configuration flags of the window manager in their classic
// form: protected mode (1), a 486 or later processor (8), enhanced mode (32),
// a floating-point unit (1024) and the NT family (16384).
void fn_winconfig(State* st, int, Cell* result, Cell*, bool) { cell_set_int(st, result, 0x0001 | 0x0008 | 0x0020 | 0x0400 | 0x4000); }

// WinHelp(file, command, parameter): shows a help file (".chm" files in the
// HTML help viewer). Commands: CONTENTS, KEY and PARTIALKEY (a keyword),
// CONTEXT (a topic number), COMMAND (a help macro), HELPONHELP, QUIT.
void fn_winhelp(State* st, int, Cell* result, Cell* args, bool) {
    std::wstring file, name;
    if (!text_arg(st, &args[1], &file) || !text_arg(st, &args[2], &name)) return;
    const HelpCommand* cmd = nullptr;
    for (const HelpCommand& c : kHelpCommands)
        if (_wcsicmp(c.name, name.c_str()) == 0) cmd = &c;
    if (!cmd) {
        st->err = 1217;
        return;
    }
    std::wstring text;
    DWORD_PTR data = 0;
    Cell& param = args[3];
    if (cmd->param == HP_TEXT) {
        if (!text_arg(st, &param, &text)) return;
        data = reinterpret_cast<DWORD_PTR>(text.c_str());
    } else if (cmd->param == HP_NUMBER) {
        if (!conv_to_int(st, &param, true, false)) {
            if (!st->err) st->err = 3057;
            return;
        }
        data = static_cast<DWORD_PTR>(static_cast<uint32_t>(param.i));
    }
    bool ok;
    if (ends_with_chm(file)) {
        const HtmlHelpFn fn = html_help();
        ok = fn && (fn(st->hostWnd, file.c_str(), cmd->html, data) != nullptr || cmd->html == 0x0012);
    } else {
        ok = WinHelpW(st->hostWnd, file.c_str(), cmd->command, data) != FALSE;
    }
    if (!ok) {
        st->err = 1567;
        return;
    }
    cell_set_int(st, result, 1);
}
