// The running processes that a name argument of the App members names.
#include "library/processes/proc_internal.h"
#include "errors.h"
#include <algorithm>
#include <tlhelp32.h>

namespace proc {

namespace {

bool same_text(const wchar_t* a, const wchar_t* b) { return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL; }

// The text names the file, or the file without its ".exe".
bool names_file(const std::wstring& text, const wchar_t* file) {
    if (same_text(text.c_str(), file)) return true;
    return same_text((text + L".exe").c_str(), file);
}

std::wstring image_path(DWORD id) {
    Handle h(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!h) return std::wstring();
    wchar_t path[MAX_PATH * 2];
    DWORD n = MAX_PATH * 2;
    if (!QueryFullProcessImageNameW(h.get(), 0, path, &n)) return std::wstring();
    return std::wstring(path, n);
}

const wchar_t* file_part(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/') name = p + 1;
    return name;
}

}  // namespace

ProcessName::ProcessName(std::wstring text, Form form) {
    const size_t a = text.find_first_not_of(L" \t");
    const size_t b = text.find_last_not_of(L" \t");
    text_ = a == std::wstring::npos ? std::wstring() : text.substr(a, b - a + 1);
    const bool digits = !text_.empty() && text_.size() <= 10 && text_.find_first_not_of(L"0123456789") == std::wstring::npos;
    if (form == Id || (form == Auto && digits)) {
        // Not a number (or none that fits 32 bits) names no process.
        const unsigned long long v = digits ? wcstoull(text_.c_str(), nullptr, 10) : 0;
        byId_ = true;
        id_ = v <= 0xFFFFFFFFull ? static_cast<DWORD>(v) : 0;
        return;
    }
    byPath_ = text_.find_first_of(L"\\/:") != std::wstring::npos;
}

bool ProcessName::matches(DWORD id, const wchar_t* exeFile) const {
    if (text_.empty()) return false;
    if (byId_) return id_ != 0 && id == id_;
    if (!byPath_) return names_file(text_, file_part(exeFile));
    // The file name must fit before the path is worth asking for.
    const size_t slash = text_.find_last_of(L"\\/:");
    if (!names_file(text_.substr(slash + 1), file_part(exeFile))) return false;
    const std::wstring path = image_path(id);
    return !path.empty() && names_file(text_, path.c_str());
}

bool find_processes(State* st, const ProcessName& name, std::vector<DWORD>* ids) {
    ids->clear();
    Handle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap) {
        platform_error(st, "CreateToolhelp32Snapshot", GetLastError());
        st->err = 1825;   // "Function failed"
        return false;
    }
    PROCESSENTRY32W e = {};
    e.dwSize = sizeof e;
    for (BOOL more = Process32FirstW(snap.get(), &e); more; more = Process32NextW(snap.get(), &e))
        if (name.matches(e.th32ProcessID, e.szExeFile)) ids->push_back(e.th32ProcessID);
    return true;
}

void without_self(std::vector<DWORD>* ids) {
    ids->erase(std::remove(ids->begin(), ids->end(), GetCurrentProcessId()), ids->end());
}

}  // namespace proc
