// Registered application paths: a program installed outside PATH registers
// its full path (and the folders it needs on PATH) under the machine's
// "App Paths" key, so that scripts can start it by its file name.
#include "library/processes/proc_internal.h"

namespace proc {

namespace {

const wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

class Key {
public:
    explicit Key(const std::wstring& subkey) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_QUERY_VALUE, &h_) != ERROR_SUCCESS) h_ = nullptr;
    }
    ~Key() {
        if (h_) RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

// A text value (REG_SZ, or REG_EXPAND_SZ with its variables expanded); false
// when the value is absent, empty or of another type.
bool text_value(HKEY key, const wchar_t* name, std::wstring* out) {
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || bytes < sizeof(wchar_t)) return false;
    std::wstring raw(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(raw.data()), &bytes) != ERROR_SUCCESS)
        return false;
    raw.resize(wcsnlen(raw.c_str(), raw.size()));
    if (type == REG_EXPAND_SZ) {
        const DWORD n = ExpandEnvironmentStringsW(raw.c_str(), nullptr, 0);
        if (n == 0) return false;
        std::wstring expanded(n, L'\0');
        if (ExpandEnvironmentStringsW(raw.c_str(), expanded.data(), n) == 0) return false;
        expanded.resize(wcsnlen(expanded.c_str(), expanded.size()));
        raw.swap(expanded);
    }
    *out = raw;
    return !out->empty();
}

bool lookup(const std::wstring& keyName, std::wstring* path, std::wstring* folders) {
    Key key(kAppPaths + keyName);
    if (!key.get() || !text_value(key.get(), nullptr, path)) return false;
    if (!text_value(key.get(), L"Path", folders)) folders->clear();
    return true;
}

bool has_extension(const std::wstring& name) {
    const size_t dot = name.rfind(L'.');
    return dot != std::wstring::npos && dot + 1 < name.size();
}

}  // namespace

bool registered_path(const std::wstring& name, std::wstring* path, std::wstring* folders) {
    if (name.empty() || name.find_first_of(L"\\/:\"") != std::wstring::npos) return false;
    std::wstring upper = name;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    if (lookup(upper, path, folders)) return true;
    return !has_extension(upper) && lookup(upper + L".EXE", path, folders);
}

PathPrefix::PathPrefix(const std::wstring& folders) {
    if (folders.empty()) return;
    const DWORD n = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    hadPath_ = n > 0;
    if (hadPath_) {
        old_.assign(n, L'\0');
        const DWORD got = GetEnvironmentVariableW(L"PATH", old_.data(), n);
        old_.resize(got < n ? got : 0);
    }
    const std::wstring joined = old_.empty() ? folders : folders + L";" + old_;
    active_ = SetEnvironmentVariableW(L"PATH", joined.c_str()) != 0;
}

PathPrefix::~PathPrefix() {
    if (active_) SetEnvironmentVariableW(L"PATH", hadPath_ ? old_.c_str() : nullptr);
}

}  // namespace proc
