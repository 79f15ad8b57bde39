// Position and size in the screen's virtual units (0 to 1000 across the
// primary screen's width and height): WinPlace, WinPosition, WinPlaceGet,
// WinPlaceSet and WinArrange.
#include "library/windows/win_internal.h"
#include "keyword_ids.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace win {

Screen screen() {
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), GetSystemMetrics(SM_CMONITORS) > 1};
}

int to_units(int px, int size) { return size > 0 ? static_cast<int>(static_cast<int64_t>(px) * 1000 / size) : 0; }

bool set_units(State* st, Cell* result, const RECT& r, int cx, int cy, wchar_t sep) {
    wchar_t text[64];
    swprintf(text, 64, L"%d%lc%d%lc%d%lc%d", to_units(r.left, cx), sep, to_units(r.top, cy), sep,
             to_units(r.right, cx), sep, to_units(r.bottom, cy));
    return set_text(st, result, text);
}

namespace {

constexpr int kNoResize = 1000000000;     // @NORESIZE
constexpr int kAboveIcons = 1000000001;   // @ABOVEICONS

// Virtual units to pixels: one screen clamps and truncates; several screens
// round and reach beyond the primary screen.
int to_pixels(int v, int size, bool multi) {
    if (multi) return MulDiv(v, size, 1000);
    v = std::clamp(v, -1000, 2000);
    return static_cast<int>(static_cast<int64_t>(v) * size / 1000);
}

// Keeps one side of the rectangle on a screen of `size` pixels and at least `least` long.
void fit(LONG* lo, LONG* hi, LONG size, LONG least) {
    *lo = std::clamp<LONG>(*lo, 0, size);
    *hi = std::clamp<LONG>(*hi, 0, size);
    if (*hi - *lo >= least) return;
    *hi = std::min(*lo + least, size);
    *lo = std::max<LONG>(*hi - least, 0);
    if (*hi - *lo < least) *hi = *lo + least;
}

// The bottom of the area that the task bar leaves free.
int icon_line() {
    RECT work;
    return SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) ? work.bottom : GetSystemMetrics(SM_CYSCREEN);
}

// Moves a window to r: a minimised or maximised window is restored first.
bool move_to(State* st, const Found& f, const RECT& r) {
    HWND h = f.hwnd;
    if (IsIconic(h) || IsZoomed(h)) {
        if (f.host || !IsWindowVisible(h)) ShowWindow(h, SW_SHOWNOACTIVATE);
        else restore(st, h);
        pump(st, 4);
    }
    return SetWindowPos(h, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                        SWP_NOZORDER | (f.host ? 0 : SWP_NOACTIVATE)) != FALSE;
}

// Where a window goes when it is restored, for systems that set the placement
// only of their own windows: a minimised or maximised window is restored,
// moved and then minimised or maximised again.
bool place_normal(State* st, const Found& f, const RECT& r) {
    const bool iconic = IsIconic(f.hwnd), zoomed = IsZoomed(f.hwnd);
    const bool moved = move_to(st, f, r);
    if (iconic || zoomed) {
        post_syscommand(f.hwnd, iconic ? SC_MINIMIZE : SC_MAXIMIZE);
        pause(st, command_delay(st));
    }
    return moved;
}

// Reads up to `max` integers separated by blanks, tabs or commas; the count read.
int read_numbers(const char* s, int* out, int max) {
    int n = 0;
    for (;;) {
        while (*s == ' ' || *s == '\t' || *s == ',') ++s;
        if (!*s) return n;
        char* end;
        const long v = strtol(s, &end, 10);
        if (end == s || n == max) return -1;
        out[n++] = static_cast<int>(v);
        s = end;
    }
}

// Offset of the coordinates a placement uses (the work area) from the screen's.
POINT placement_origin(HWND h) {
    POINT o{0, 0};
    RECT work;
    if (!(GetWindowLongPtrW(h, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) && !GetParent(h) &&
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
        o = {work.left, work.top};
    return o;
}

}  // namespace

}  // namespace win

using namespace win;

// WinPlace(x1, y1, x2, y2, title)
void fn_winplace(State* st, int, Cell* result, Cell* args, bool) {
    Found f;
    if (!acting_arg(st, &args[5], 1044, &f)) return;
    const Screen s = screen();
    RECT cur;
    GetWindowRect(f.hwnd, &cur);
    const int x1 = args[1].i, y1 = args[2].i, x2 = args[3].i, y2 = args[4].i;
    RECT r;
    r.left = to_pixels(x1, s.cx, s.multi);
    r.top = to_pixels(y1, s.cy, s.multi);
    r.right = x2 == kNoResize ? r.left + (cur.right - cur.left) : to_pixels(x2, s.cx, s.multi);
    r.bottom = y2 == kNoResize ? r.top + (cur.bottom - cur.top)
               : y2 == kAboveIcons ? icon_line()
                                   : to_pixels(y2, s.cy, s.multi);
    if (!s.multi) {
        fit(&r.left, &r.right, s.cx, GetSystemMetrics(SM_CXMINTRACK));
        fit(&r.top, &r.bottom, s.cy, GetSystemMetrics(SM_CYMINTRACK));
    }
    move_to(st, f, r);
    cell_set_int(st, result, 1);
}

// WinPosition(title): "x1,y1,x2,y2" in virtual units.
void fn_winposition(State* st, int, Cell* result, Cell* args, bool) {
    Found f;
    if (!acting_arg(st, &args[1], 1119, &f)) return;
    const Screen s = screen();
    RECT r;
    GetWindowRect(f.hwnd, &r);
    set_units(st, result, r, s.cx, s.cy, L',');
}

// WinPlaceGet(type, title): where the window goes when it is restored
// (@NORMAL: "x1 y1 x2 y2"), minimised (@ICON: "x y") or maximised (@ZOOMED:
// "x y"), in virtual units.
void fn_winplaceget(State* st, int, Cell* result, Cell* args, bool) {
    Found f;
    if (!acting_arg(st, &args[2], 1200, &f)) return;
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    const int type = args[1].i;
    if ((type != 1 && type != 2 && type != 3) || !GetWindowPlacement(f.hwnd, &wp)) {
        st->err = 1201;
        return;
    }
    const Screen s = screen();
    const POINT o = placement_origin(f.hwnd);
    if (type == 2) {
        RECT r = wp.rcNormalPosition;
        OffsetRect(&r, o.x, o.y);
        set_units(st, result, r, s.cx, s.cy, L' ');
        return;
    }
    const POINT& p = type == 1 ? wp.ptMinPosition : wp.ptMaxPosition;
    wchar_t text[32];
    swprintf(text, 32, L"%d %d", to_units(p.x, s.cx), to_units(p.y, s.cy));
    set_text(st, result, text);
}

// WinPlaceSet(type, title, position): sets what WinPlaceGet reads, from the
// same text (blanks or commas between the numbers). Returns 1.
void fn_winplaceset(State* st, int, Cell* result, Cell* args, bool) {
    Found f;
    if (!acting_arg(st, &args[2], 1200, &f)) return;
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    const int type = args[1].i;
    int v[4];
    const int n = read_numbers(cell_str(st, &args[3]), v, 4);
    if ((type != 1 && type != 2 && type != 3) || n != (type == 2 ? 4 : 2) || !GetWindowPlacement(f.hwnd, &wp)) {
        st->err = 1201;
        return;
    }
    const Screen s = screen();
    const POINT o = placement_origin(f.hwnd);
    auto px = [&](int units, int size) { return static_cast<int>(static_cast<int64_t>(units) * size / 1000); };
    const RECT normal{px(v[0], s.cx), px(v[1], s.cy), px(v[2], s.cx), px(v[3], s.cy)};
    if (type == 2) {
        wp.rcNormalPosition = normal;
        OffsetRect(&wp.rcNormalPosition, -o.x, -o.y);
    } else if (type == 1) {
        wp.ptMinPosition = {px(v[0], s.cx), px(v[1], s.cy)};
        wp.flags |= WPF_SETMINPOSITION;
    } else {
        wp.ptMaxPosition = {px(v[0], s.cx), px(v[1], s.cy)};
    }
    // Keep the window as it is shown now; only the stored places change.
    wp.showCmd = !IsWindowVisible(f.hwnd) ? SW_HIDE
                 : IsIconic(f.hwnd)        ? SW_SHOWMINNOACTIVE
                 : IsZoomed(f.hwnd)        ? SW_SHOWMAXIMIZED
                                           : SW_SHOWNOACTIVATE;
    if (!SetWindowPlacement(f.hwnd, &wp) && !(type == 2 && place_normal(st, f, normal))) {
        st->err = 1201;
        return;
    }
    cell_set_int(st, result, 1);
}

// WinArrange(style): @STACK cascades the desktop's windows, @TILE (@ARRANGE)
// and @COLUMNS tile them side by side, @ROWS one above the other. Returns 1.
void fn_winarrange(State* st, int, Cell* result, Cell* args, bool) {
    switch (args[1].i) {
    case 1: CascadeWindows(nullptr, 0, nullptr, 0, nullptr); break;
    case 2:
    case 4: TileWindows(nullptr, MDITILE_VERTICAL, nullptr, 0, nullptr); break;
    case 3: TileWindows(nullptr, MDITILE_HORIZONTAL, nullptr, 0, nullptr); break;
    default: st->err = 1217; return;
    }
    cell_set_int(st, result, 1);
}
