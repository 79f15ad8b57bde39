// RunApp: starts a packaged application by its application user model id
// (the id the shell's application list uses, "Publisher.App_hash!App") through
// the system's application activation manager.
#include "library/processes/proc_internal.h"
#include <objbase.h>
#include <shobjidl.h>

using namespace proc;

namespace {

// COM for this thread while the object lives (when it was not on already).
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT hr_;
};

// Activates the application; the process id or a failure code.
HRESULT activate(const std::wstring& appId, const std::wstring& params, DWORD* pid) {
    ComScope com;
    IApplicationActivationManager* manager = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ApplicationActivationManager, nullptr, CLSCTX_LOCAL_SERVER,
                                  IID_IApplicationActivationManager, reinterpret_cast<void**>(&manager));
    if (FAILED(hr)) return hr;
    hr = manager->ActivateApplication(appId.c_str(), params.empty() ? nullptr : params.c_str(), AO_NONE, pid);
    manager->Release();
    return hr;
}

}  // namespace

// RunApp (application id, parameters [, wait = @NOWAIT]): the wait modes of
// the launcher (the application's window shows as the application decides).
void fn_runapp(State* st, int nargs, Cell* result, Cell* args, bool) {
    const int wait = nargs >= 3 ? args[3].i : WAIT_NOWAIT;
    if (wait < WAIT_NOWAIT || wait > WAIT_GETEXITCODE) {
        st->err = 3383;
        return;
    }
    const std::wstring appId = wide_arg(st, &args[1]);
    forget_exit_code(st);
    DWORD pid = 0;
    const HRESULT hr = activate(appId, wide_arg(st, &args[2]), &pid);
    if (FAILED(hr)) {
        const DWORD code = HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : static_cast<DWORD>(hr);
        start_failed(st, code, L"ActivateApplication", appId);
        return;
    }
    Started p;
    p.id = pid;
    p.process.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    finish_start(st, p, wait, result);
}
