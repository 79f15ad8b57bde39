// FileVerInfo(filename, language-key, resource-string): a string of the
// file's version resource. The language key is eight hex digits (language
// and code page, "040904B0"); an empty key takes the first translation the
// file lists. The names "#FileVersion" and "#ProductVersion" give the
// numeric versions of the fixed part as "a.b.c.d".
#include "library/files/internal.h"
#include <cwctype>
#include <vector>

void fn_fileverinfo(State* st, int, Cell* result, Cell* args, bool wide) {
    WidePath p;
    if (!file_long_path(st, &args[1], &p)) return;
    const std::wstring key = arg_text(st, &args[2]);
    const std::wstring name = arg_text(st, &args[3]);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(p.c_str(), &ignored);
    std::vector<uint8_t> block(size ? size : 1);
    if (!size || !GetFileVersionInfoW(p.c_str(), 0, size, block.data())) {
        st->err = 1496;
        return;
    }
    if (_wcsicmp(name.c_str(), L"#FileVersion") == 0 || _wcsicmp(name.c_str(), L"#ProductVersion") == 0) {
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT len = 0;
        if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) || !fixed) {
            st->err = 1498;
            return;
        }
        const bool file = _wcsicmp(name.c_str(), L"#FileVersion") == 0;
        const DWORD ms = file ? fixed->dwFileVersionMS : fixed->dwProductVersionMS;
        const DWORD ls = file ? fixed->dwFileVersionLS : fixed->dwProductVersionLS;
        wchar_t text[64];
        swprintf(text, 64, L"%u.%u.%u.%u", HIWORD(ms), LOWORD(ms), HIWORD(ls), LOWORD(ls));
        set_text_result(st, result, text, wide);
        return;
    }
    std::wstring lang = key;
    if (lang.empty()) {
        WORD* pairs = nullptr;
        UINT len = 0;
        if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pairs), &len) ||
            len < 4) {
            st->err = 1497;
            return;
        }
        wchar_t text[16];
        swprintf(text, 16, L"%04X%04X", pairs[0], pairs[1]);
        lang = text;
    }
    bool hex = lang.size() == 8;
    for (wchar_t c : lang) hex = hex && iswxdigit(c);
    if (!hex) {
        st->err = 1497;
        return;
    }
    const std::wstring query = L"\\StringFileInfo\\" + lang + L"\\" + name;
    wchar_t* value = nullptr;
    UINT len = 0;
    if (name.empty() || !VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &len) ||
        !value) {
        st->err = 1498;
        return;
    }
    std::wstring text(value, len);
    while (!text.empty() && text.back() == 0) text.pop_back();
    set_text_result(st, result, text, wide);
}
