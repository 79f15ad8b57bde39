// The one lookup routine of the window family: window ids, the partial-title
// rules, enumeration of top-level and child windows, and the waiting policy.
#include "library/windows/win_internal.h"
#include "library/strings/strings.h"
#include "loader.h"
#include "wait.h"
#include <cwchar>

namespace win {

namespace {

constexpr wchar_t kIdPrefix[] = L"#WIN$ID#";
constexpr size_t kIdPrefixLen = 8;

int hex_digit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

BOOL CALLBACK collect(HWND h, LPARAM lp) {
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}

// Locale-aware, case-sensitive equality of n units of a and all of b.
bool same_text(const wchar_t* a, size_t n, const wchar_t* b) {
    std::wstring head(a, n);
    return lstrcmpW(head.c_str(), b) == 0;
}

}  // namespace

bool text_arg(State* st, Cell* c, std::wstring* out) {
    if (!strings::arg_wide(st, c)) return false;
    *out = cell_wstr(st, c);
    return true;
}

std::wstring format_id(HWND h) {
    wchar_t text[ID_LEN + 1];
    swprintf(text, ID_LEN + 1, L"%ls%08lX", kIdPrefix,
             static_cast<unsigned long>(reinterpret_cast<uintptr_t>(h) & 0xFFFFFFFFu));
    return text;
}

bool parse_id(const wchar_t* text, HWND* h) {
    if (wcslen(text) != ID_LEN || wcsncmp(text, kIdPrefix, kIdPrefixLen) != 0) return false;
    uint32_t v = 0;
    for (size_t k = kIdPrefixLen; k < ID_LEN; ++k) {
        const int d = hex_digit(text[k]);
        if (d < 0) {
            *h = nullptr;
            return true;
        }
        v = v << 4 | static_cast<uint32_t>(d);
    }
    // Window handles are 32-bit values, sign-extended in a 64-bit process.
    *h = reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(v)));
    return true;
}

bool title_matches(const wchar_t* pattern, const wchar_t* title) {
    const size_t plen = wcslen(pattern), tlen = wcslen(title);
    const bool lead = plen >= 2 && pattern[0] == L'~';
    const bool trail = plen >= 2 && pattern[plen - 1] == L'~';
    if (lead && trail) {   // "~text~": the text ends the title
        const size_t n = plen - 2;
        return n <= tlen && wmemcmp(title + tlen - n, pattern + 1, n) == 0;
    }
    if (lead) return wcsstr(title, pattern + 1) != nullptr;   // "~text": anywhere
    if (trail) {                                              // "title~": the whole title
        std::wstring whole(pattern, plen - 1);
        return lstrcmpW(whole.c_str(), title) == 0;
    }
    return plen <= tlen && same_text(title, plen, pattern);   // a prefix
}

bool title_ignored(const std::wstring& title) { return title.empty() || title == L"WinOldAp"; }

std::wstring top_title(HWND h) {
    wchar_t buf[1024];
    int n = InternalGetWindowText(h, buf, 1024);
    if (n < 1023) return std::wstring(buf, n > 0 ? n : 0);
    // A long title: ask for its length (no message for another process's window).
    const int len = GetWindowTextLengthW(h);
    std::wstring s(static_cast<size_t>(len) + 1, L'\0');
    n = InternalGetWindowText(h, s.data(), len + 1);
    s.resize(n > 0 ? n : 0);
    return s;
}

std::wstring child_text(HWND h) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 1000, &len) || len == 0) return {};
    if (len > 65535) len = 65535;
    std::wstring s(len + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(s.data()), SMTO_ABORTIFHUNG, 1000,
                             &got))
        return {};
    s.resize(wcsnlen(s.c_str(), got));
    return s;
}

bool top_windows(std::vector<HWND>* out) {
    out->clear();
    return EnumWindows(collect, reinterpret_cast<LPARAM>(out)) || !out->empty();
}

std::vector<HWND> child_windows(HWND parent) {
    std::vector<HWND> out;
    EnumChildWindows(parent, collect, reinterpret_cast<LPARAM>(&out));
    return out;
}

HWND find_top(const wchar_t* pattern) {
    std::vector<HWND> all;
    top_windows(&all);
    for (HWND h : all) {
        const std::wstring t = top_title(h);
        if (!title_ignored(t) && title_matches(pattern, t.c_str())) return h;
    }
    return nullptr;
}

Found lookup(State* st, const wchar_t* title, int wait) {
    Found f;
    if (!*title) {
        f.hwnd = st->hostWnd && IsWindow(st->hostWnd) ? st->hostWnd : nullptr;
        f.host = true;
        return f;
    }
    HWND h;
    if (parse_id(title, &h)) {
        f.hwnd = h && IsWindow(h) ? h : nullptr;
        return f;
    }
    for (int attempt = 0;; ++attempt) {
        if ((f.hwnd = find_top(title)) != nullptr) return f;
        if (attempt >= wait || !wait_interruptible(st, 1000)) return f;
    }
}

Found find_acting(State* st, const wchar_t* title, uint16_t notFound) {
    Found f = lookup(st, title, wait_setting(st));
    if (!f) st->err = notFound;
    return f;
}

bool acting_arg(State* st, Cell* arg, uint16_t notFound, Found* f) {
    std::wstring title;
    if (!text_arg(st, arg, &title)) return false;
    *f = find_acting(st, title.c_str(), notFound);
    return static_cast<bool>(*f);
}

HWND find_child(HWND parent, const wchar_t* title) {
    HWND h;
    if (parse_id(title, &h)) return h && IsWindow(h) && IsChild(parent, h) ? h : nullptr;
    for (HWND c : child_windows(parent)) {
        const std::wstring t = child_text(c);
        if (!title_ignored(t) && title_matches(title, t.c_str())) return c;
    }
    return nullptr;
}

bool is_console(HWND h) {
    wchar_t cls[64];
    if (!GetClassNameW(h, cls, 64)) return false;
    return wcscmp(cls, L"ConsoleWindowClass") == 0 || wcscmp(cls, L"WineConsoleClass") == 0;
}

bool set_text(State* st, Cell* result, const std::wstring& s) { return cell_set_wstr(st, result, s.c_str(), s.size()); }

void post_syscommand(HWND h, WPARAM cmd) { PostMessageW(h, WM_SYSCOMMAND, cmd, 0); }

bool pause(State* st, int ms) { return ms <= 0 ? !stop_requested(st) : wait_interruptible(st, static_cast<DWORD>(ms)); }

void restore(State* st, HWND h) {
    post_syscommand(h, SC_RESTORE);
    pause(st, command_delay(st));
}

void pump(State* st, int times) {
    for (int k = 0; k < times; ++k) pump_messages(st);
}

}  // namespace win
