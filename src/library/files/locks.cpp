// FileLockItemize(filename [, flags]): the programs that hold the file open,
// as the system's Restart Manager reports them, joined by the file-list
// delimiter: their names, or with flags 1 their process ids. "" when no
// program holds it, and also when the system has no Restart Manager.
#include "library/files/internal.h"
#include <restartmanager.h>
#include <vector>

namespace {

typedef DWORD(WINAPI* StartFn)(DWORD*, DWORD, WCHAR*);
typedef DWORD(WINAPI* RegisterFn)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
typedef DWORD(WINAPI* ListFn)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
typedef DWORD(WINAPI* EndFn)(DWORD);

// The Restart Manager's entries, looked up once per process.
struct RestartManager {
    StartFn    start = nullptr;
    RegisterFn reg = nullptr;
    ListFn     list = nullptr;
    EndFn      end = nullptr;
    bool ok() const { return start && reg && list && end; }
};

const RestartManager& restart_manager() {
    static const RestartManager rm = [] {
        RestartManager r;
        if (HMODULE m = LoadLibraryW(L"rstrtmgr.dll")) {
            r.start = reinterpret_cast<StartFn>(reinterpret_cast<void*>(GetProcAddress(m, "RmStartSession")));
            r.reg = reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(GetProcAddress(m, "RmRegisterResources")));
            r.list = reinterpret_cast<ListFn>(reinterpret_cast<void*>(GetProcAddress(m, "RmGetList")));
            r.end = reinterpret_cast<EndFn>(reinterpret_cast<void*>(GetProcAddress(m, "RmEndSession")));
        }
        return r;
    }();
    return rm;
}

// The processes holding `path` (empty when none or when the system cannot tell).
std::vector<RM_PROCESS_INFO> holders(const wchar_t* path) {
    std::vector<RM_PROCESS_INFO> out;
    const RestartManager& rm = restart_manager();
    if (!rm.ok()) return out;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = L"";
    if (rm.start(&session, 0, key) != ERROR_SUCCESS) return out;
    LPCWSTR names[1] = {path};
    if (rm.reg(session, 1, names, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            UINT needed = 0, have = static_cast<UINT>(out.size());
            DWORD reasons = 0;
            const DWORD rc = rm.list(session, &needed, &have, out.empty() ? nullptr : out.data(), &reasons);
            if (rc == ERROR_SUCCESS) {
                out.resize(have);
                break;
            }
            if (rc != ERROR_MORE_DATA) {
                out.clear();
                break;
            }
            out.resize(needed);
        }
    }
    rm.end(session);
    return out;
}

}  // namespace

void fn_filelockitemize(State* st, int nargs, Cell* result, Cell* args, bool wide) {
    WidePath p;
    if (!file_long_path(st, &args[1], &p)) return;
    const bool ids = nargs >= 2 && (args[2].i & 1);
    const wchar_t delim = static_cast<wchar_t>(file_settings(st).listDelim);
    std::wstring text;
    for (const RM_PROCESS_INFO& info : holders(p.c_str())) {
        if (!text.empty()) text += delim;
        text += ids ? std::to_wstring(info.Process.dwProcessId) : std::wstring(info.strAppName);
    }
    set_text_result(st, result, text, wide);
}
