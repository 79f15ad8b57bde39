#include "engine.h"
#include "script_file.h"

const char* const kHostVersion = "1.0";

Engine::~Engine() { destroy(); }

// The library is looked up next to kel.exe, never on the search path, so that
// a run always uses the library it was built with.
bool Engine::load(std::wstring& error)
{
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) { error = L"cannot determine the program's directory"; return false; }
    std::wstring dll(path, n);
    size_t slash = dll.find_last_of(L"\\/");
    dll = (slash == std::wstring::npos ? std::wstring() : dll.substr(0, slash + 1)) + L"CXDXA64I.dll";

    HMODULE m = LoadLibraryExW(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!m) { error = L"cannot load " + dll + L": " + system_message(GetLastError()); return false; }
    module_ = std::make_unique<Module>(m);
    init_ = reinterpret_cast<PFN_DoDaDllInit>(GetProcAddress(m, "DoDaDllInit"));
    process_ = reinterpret_cast<PFN_ProcessDaBatBuffer>(GetProcAddress(m, "ProcessDaBatBuffer"));
    services_ = reinterpret_cast<PFN_DLLServices>(GetProcAddress(m, "DLLServices"));
    if (!init_ || !process_ || !services_) {
        error = dll + L" lacks DoDaDllInit, ProcessDaBatBuffer or DLLServices";
        return false;
    }
    return true;
}

bool Engine::create(const char* scriptName, std::wstring& error)
{
    name_ = scriptName ? scriptName : "";
    uint64_t version = uint64_t(KEL_INTERFACE_VERSION) << 8;
    int64_t size = init_(nullptr, nullptr, version, KEL_REQ_VERSION, 0, nullptr, nullptr);
    if (size <= 0) { error = L"the library refused interface version 0x13"; return false; }

    state_ = GlobalBlock((SIZE_T)size);
    vars_ = GlobalBlock(kVarSlots * kVarSlotSize);
    heap_ = std::make_unique<ReservedRegion>(kHeapReserve);
    if (!state_ || !vars_ || !heap_->get()) { error = L"not enough memory for the interpreter state"; return false; }

    if (init_(nullptr, state_.get(), 0, KEL_REQ_INIT, 0, nullptr, nullptr) == 0) {
        error = L"the library could not initialise";
        return false;
    }
    created_ = true;                      // from here on request 99 releases the state
    if (init_(nullptr, state_.get(), (uint64_t)(uintptr_t)vars_.get(), KEL_REQ_VARTABLE, kVarSlots,
              kHostName, kHostVersion) == 0) {
        error = L"the library could not attach the variable table";
        return false;
    }
    if (init_(nullptr, state_.get(), (uint64_t)(uintptr_t)heap_->get(), KEL_REQ_HEAP, heap_->size(),
              nullptr, name_.c_str()) == 0) {
        error = L"the library could not attach the string heap";
        return false;
    }
    return true;
}

int64_t Engine::services(int request, void* p1, void* p2, int64_t n, int64_t n2) const
{
    return services_ ? services_(state_.get(), request, p1, p2, n, n2) : 0;
}

int Engine::run(HGLOBAL script, const KelFunction* hostTable, uint64_t hostValue)
{
    return process_(nullptr, state_.get(), script, hostValue, hostTable);
}

void Engine::destroy()
{
    if (created_) {
        int unregister = 1;               // the process ends next: unregister the window classes
        init_(nullptr, state_.get(), 0, KEL_REQ_TEARDOWN, (uint64_t)(uintptr_t)&unregister, nullptr, nullptr);
        created_ = false;
    }
    state_.reset();
    vars_.reset();
    heap_.reset();
    module_.reset();
}
