// Child windows, named by a parent title (the top-level rules) and a child
// title (the same rules applied to the text of the parent's descendants):
// WinExistChild, WinActivChild, WinActiveChild, WinWaitChild, WinPlaceChild
// and WinPositionChild. Positions are in 0 to 1000 units of the parent's
// client area.
#include "library/windows/win_internal.h"
#include <cwchar>

namespace win {

namespace {

constexpr int kNoResize = 1000000000;   // @NORESIZE

// The parent named by args[1], looked up with the window-wait setting (1716).
bool parent_arg(State* st, Cell* args, Found* parent, std::wstring* childTitle) {
    return acting_arg(st, &args[1], 1716, parent) && text_arg(st, &args[2], childTitle);
}

// Parent and child of the acting members (1716, 1717).
bool pair_args(State* st, Cell* args, Found* parent, HWND* child) {
    std::wstring title;
    if (!parent_arg(st, args, parent, &title)) return false;
    *child = find_child(parent->hwnd, title.c_str());
    if (!*child) st->err = 1717;
    return *child != nullptr;
}

// Parent and child of the members that measure in the parent's client area
// (1718 when it has none to measure in).
bool measured_pair(State* st, Cell* args, Found* parent, HWND* child, SIZE* size) {
    if (!pair_args(st, args, parent, child)) return false;
    RECT rc;
    if (!GetClientRect(parent->hwnd, &rc) || rc.right <= 0 || rc.bottom <= 0) {
        st->err = 1718;
        return false;
    }
    *size = {rc.right, rc.bottom};
    return true;
}

// The MDI client a child lives in, or nullptr.
HWND mdi_client_of(HWND child) {
    HWND p = GetParent(child);
    wchar_t cls[16];
    return p && GetClassNameW(p, cls, 16) && _wcsicmp(cls, L"MDIClient") == 0 ? p : nullptr;
}

// Whether `child` is, or contains, the window with the focus in its thread.
bool has_focus(HWND child) {
    if (HWND mdi = mdi_client_of(child)) return reinterpret_cast<HWND>(SendMessageW(mdi, WM_MDIGETACTIVE, 0, 0)) == child;
    GUITHREADINFO gi{};
    gi.cbSize = sizeof gi;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(child, nullptr), &gi) || !gi.hwndFocus) return false;
    return gi.hwndFocus == child || IsChild(child, gi.hwndFocus);
}

}  // namespace

}  // namespace win

using namespace win;

// WinExistChild(parent, child): 1 when both exist now, else 0.
void fn_winexistchild(State* st, int, Cell* result, Cell* args, bool) {
    std::wstring parent, child;
    if (!text_arg(st, &args[1], &parent) || !text_arg(st, &args[2], &child)) return;
    const Found p = lookup(st, parent.c_str(), 0);
    cell_set_int(st, result, p && find_child(p.hwnd, child.c_str()) ? 1 : 0);
}

// WinActivChild(parent, child): activates the parent and makes the child the
// active MDI child, or gives it the keyboard focus. Returns 1.
void fn_winactivchild(State* st, int, Cell* result, Cell* args, bool) {
    Found parent;
    HWND child;
    if (!pair_args(st, args, &parent, &child)) return;
    activate(st, parent);
    if (HWND mdi = mdi_client_of(child)) {
        SendMessageW(mdi, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(child), 0);
    } else if (!focus_window(child)) {
        st->err = 1719;
        return;
    }
    cell_set_int(st, result, 1);
}

// WinActiveChild(parent, child): 1 when the child is the parent's active MDI
// child or holds (or contains) the keyboard focus, 0 otherwise or when there
// is no such child.
void fn_winactivechild(State* st, int, Cell* result, Cell* args, bool) {
    Found parent;
    std::wstring title;
    if (!parent_arg(st, args, &parent, &title)) return;
    HWND child = find_child(parent.hwnd, title.c_str());
    cell_set_int(st, result, child && has_focus(child) ? 1 : 0);
}

// WinWaitChild(parent, child, timeout): 1 once the child exists (after the
// wait-done delay), 0 on time-out or stop.
void fn_winwaitchild(State* st, int, Cell* result, Cell* args, bool) {
    Found parent;
    std::wstring title;
    if (!parent_arg(st, args, &parent, &title)) return;
    const bool found = wait_until(st, args[3].i, [&] {
        return IsWindow(parent.hwnd) && find_child(parent.hwnd, title.c_str()) != nullptr;
    });
    if (found) pause(st, done_delay(st));
    cell_set_int(st, result, found ? 1 : 0);
}

// WinPlaceChild(parent, child, x1, y1, x2, y2): moves the child within the
// parent's client area (@NORESIZE for x2 or y2 keeps that size). Returns 1.
void fn_winplacechild(State* st, int, Cell* result, Cell* args, bool) {
    Found parent;
    HWND child;
    SIZE size;
    if (!measured_pair(st, args, &parent, &child, &size)) return;
    RECT cur;
    GetWindowRect(child, &cur);
    const int x1 = args[3].i, y1 = args[4].i, x2 = args[5].i, y2 = args[6].i;
    POINT at{MulDiv(x1, size.cx, 1000), MulDiv(y1, size.cy, 1000)};
    const int w = x2 == kNoResize ? cur.right - cur.left : MulDiv(x2, size.cx, 1000) - at.x;
    const int h = y2 == kNoResize ? cur.bottom - cur.top : MulDiv(y2, size.cy, 1000) - at.y;
    // Coordinates of the child's own parent (the MDI client, a group...).
    MapWindowPoints(parent.hwnd, GetParent(child), &at, 1);
    if (IsIconic(child) || IsZoomed(child)) ShowWindow(child, SW_RESTORE);
    if (!SetWindowPos(child, nullptr, at.x, at.y, w, h, SWP_NOZORDER | SWP_NOACTIVATE)) {
        st->err = 1719;
        return;
    }
    cell_set_int(st, result, 1);
}

// WinPositionChild(parent, child): "x1,y1,x2,y2" in units of the parent's client area.
void fn_winpositionchild(State* st, int, Cell* result, Cell* args, bool) {
    Found parent;
    HWND child;
    SIZE size;
    if (!measured_pair(st, args, &parent, &child, &size)) return;
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent.hwnd, reinterpret_cast<POINT*>(&r), 2);
    set_units(st, result, r, size.cx, size.cy, L',');
}
