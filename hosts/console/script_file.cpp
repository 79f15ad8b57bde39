#include "script_file.h"
#include <cstring>
#include <vector>
#include "streams.h"

std::wstring system_message(DWORD code)
{
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                             FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, (LPWSTR)&text, 0, nullptr);
    std::wstring s;
    if (n && text) s.assign(text, n);
    if (text) LocalFree(text);
    while (!s.empty() && (s.back() == L'\n' || s.back() == L'\r' || s.back() == L' ' || s.back() == L'.'))
        s.pop_back();
    if (s.empty()) s = L"system error " + std::to_wstring(code);
    return s;
}

std::string utf8_to_utf16_with_bom(const char* bytes, size_t len)
{
    std::wstring w = L"\xFEFF" + from_utf8(bytes, len);
    return std::string(reinterpret_cast<const char*>(w.data()), w.size() * sizeof(wchar_t));
}

GlobalBlock load_script(const std::wstring& path, std::wstring& error)
{
    FileHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.ok()) { error = system_message(GetLastError()); return {}; }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(f.get(), &size)) { error = system_message(GetLastError()); return {}; }
    if (size.QuadPart > 0x7FFFFFF0) { error = L"the file is too large"; return {}; }

    std::vector<char> raw((size_t)size.QuadPart);
    size_t got = 0;
    while (got < raw.size()) {
        DWORD n = 0;
        if (!ReadFile(f.get(), raw.data() + got, (DWORD)(raw.size() - got), &n, nullptr)) {
            error = system_message(GetLastError());
            return {};
        }
        if (n == 0) break;
        got += n;
    }
    raw.resize(got);

    std::string converted;
    const char* text = raw.data();
    size_t len = raw.size();
    if (len >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
        converted = utf8_to_utf16_with_bom(text + 3, len - 3);
        text = converted.data();
        len = converted.size();
    }

    GlobalBlock block(len + 2);
    if (!block) { error = L"not enough memory for the script"; return {}; }
    GlobalLockGuard lock(block.get());
    if (!lock.get()) { error = L"not enough memory for the script"; return {}; }
    if (len) memcpy(lock.get(), text, len);     // the block is zero-filled: terminator included
    return block;
}
