// Item lists of windows (tab-delimited): WinItemize, WinItemizeEx,
// WinItemNameId, WinItemProcId and WinItemChild. An item is a title, a window
// id, or "title|id".
#include "library/windows/win_internal.h"

namespace win {

namespace {

enum Form { TITLES = 0, IDS = 1, PAIRS = 2 };

class ItemList {
public:
    explicit ItemList(Form form) : form_(form) {}
    void add(HWND h, const std::wstring& title) {
        if (!text_.empty()) text_ += L'\t';
        if (form_ != IDS) text_ += title;
        if (form_ == PAIRS) text_ += L'|';
        if (form_ != TITLES) text_ += format_id(h);
    }
    bool store(State* st, Cell* result) const { return set_text(st, result, text_); }

private:
    Form         form_;
    std::wstring text_;
};

// Top-level windows, or 1334 when the system cannot list them.
bool all_windows(State* st, std::vector<HWND>* out) {
    if (top_windows(out)) return true;
    st->err = 1334;
    return false;
}

// The windows an itemizer lists: titled, and visible unless hidden ones are wanted.
bool listed(HWND h, const std::wstring& title, bool hidden) {
    return !title_ignored(title) && (hidden || IsWindowVisible(h));
}

bool form_arg(State* st, int value, Form* form) {
    if (value < TITLES || value > PAIRS) {
        st->err = 1538;
        return false;
    }
    *form = static_cast<Form>(value);
    return true;
}

// Lists the visible titled top-level windows in the given form.
void visible_windows(State* st, Cell* result, Form form) {
    std::vector<HWND> all;
    if (!all_windows(st, &all)) return;
    ItemList list(form);
    for (HWND h : all) {
        const std::wstring t = top_title(h);
        if (listed(h, t, false)) list.add(h, t);
    }
    list.store(st, result);
}

}  // namespace

}  // namespace win

using namespace win;

// WinItemize(): the titles of the visible top-level windows, front to back.
void fn_winitemize(State* st, int, Cell* result, Cell*, bool) { visible_windows(st, result, TITLES); }

// WinItemNameId(): "title|id" for each visible top-level window.
void fn_winitemnameid(State* st, int, Cell* result, Cell*, bool) { visible_windows(st, result, PAIRS); }

// WinItemizeEx(title, multiple, hidden [, form = 0]): the top-level windows
// that the title names ("" names all): every match or only the first, hidden
// ones too or not; as titles (0), ids (1) or "title|id" (2).
void fn_winitemizeex(State* st, int nargs, Cell* result, Cell* args, bool) {
    std::wstring title;
    Form form;
    if (!text_arg(st, &args[1], &title) || !form_arg(st, nargs >= 4 ? args[4].i : 0, &form)) return;
    const bool multiple = args[2].i != 0, hidden = args[3].i != 0;
    ItemList list(form);
    HWND byId;
    if (parse_id(title.c_str(), &byId)) {
        if (!byId) {
            st->err = 1583;
            return;
        }
        const std::wstring t = IsWindow(byId) ? top_title(byId) : std::wstring();
        if (listed(byId, t, hidden)) list.add(byId, t);
        list.store(st, result);
        return;
    }
    std::vector<HWND> all;
    if (!all_windows(st, &all)) return;
    for (HWND h : all) {
        const std::wstring t = top_title(h);
        if (!listed(h, t, hidden) || (!title.empty() && !title_matches(title.c_str(), t.c_str()))) continue;
        list.add(h, t);
        if (!multiple) break;
    }
    list.store(st, result);
}

// WinItemProcId(process id, flags, form): the titled windows of a process (0:
// this one): top-level windows, with flag 1 hidden ones too, with flag 2 their
// child windows too; as titles, ids or "title|id". 1586 when there is no such
// process.
void fn_winitemprocid(State* st, int, Cell* result, Cell* args, bool) {
    Form form;
    const int flags = args[2].i;
    if (args[1].i < 0 || flags < 0 || flags > 3) {
        st->err = 1538;
        return;
    }
    if (!form_arg(st, args[3].i, &form)) return;
    const DWORD pid = args[1].i ? static_cast<DWORD>(args[1].i) : GetCurrentProcessId();
    HANDLE proc = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!proc && GetLastError() == ERROR_INVALID_PARAMETER) {
        st->err = 1586;
        return;
    }
    if (proc) CloseHandle(proc);
    std::vector<HWND> all;
    if (!all_windows(st, &all)) return;
    ItemList list(form);
    for (HWND h : all) {
        DWORD owner = 0;
        GetWindowThreadProcessId(h, &owner);
        if (owner != pid || (!(flags & 1) && !IsWindowVisible(h))) continue;
        const std::wstring t = top_title(h);
        if (!title_ignored(t)) list.add(h, t);
        if (!(flags & 2)) continue;
        for (HWND c : child_windows(h)) {
            const std::wstring ct = child_text(c);
            if (listed(c, ct, flags & 1)) list.add(c, ct);
        }
    }
    list.store(st, result);
}

// WinItemChild(title): the texts of the window's titled child windows, at any
// depth, parents before their children.
void fn_winitemchild(State* st, int, Cell* result, Cell* args, bool) {
    std::wstring title;
    if (!text_arg(st, &args[1], &title)) return;
    HWND h;
    if (parse_id(title.c_str(), &h) && !h) {
        st->err = 1583;
        return;
    }
    if (title.empty() && !(st->hostWnd && IsWindow(st->hostWnd))) {
        st->err = 1585;   // the host runs without a window
        return;
    }
    const Found f = lookup(st, title.c_str(), wait_setting(st));
    if (!f) {
        st->err = 1539;
        return;
    }
    ItemList list(TITLES);
    for (HWND c : child_windows(f.hwnd)) {
        const std::wstring t = child_text(c);
        if (!title_ignored(t)) list.add(c, t);
    }
    list.store(st, result);
}
