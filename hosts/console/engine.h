// One interpreter state of CXDXA64I.dll, driven through its exported entry
// points only (DoDaDllInit, ProcessDaBatBuffer, DLLServices), as any host does.
#pragma once
#include <windows.h>
#include <memory>
#include <string>
#include "kel.h"
#include "handles.h"

class Engine {
public:
    ~Engine();
    // Loads the library that sits next to kel.exe and resolves its entries.
    bool load(std::wstring& error);
    // Requests 0 to 3: the state block, initialisation, the variable table and
    // the string heap. `scriptName` is kept by pointer inside the library.
    bool create(const char* scriptName, std::wstring& error);

    int64_t services(int request, void* p1 = nullptr, void* p2 = nullptr, int64_t n = 0, int64_t n2 = 0) const;
    int run(HGLOBAL script, const KelFunction* hostTable, uint64_t hostValue);
    HGLOBAL state() const { return state_.get(); }

private:
    void destroy();

    std::unique_ptr<Module> module_;
    PFN_DoDaDllInit init_ = nullptr;
    PFN_ProcessDaBatBuffer process_ = nullptr;
    PFN_DLLServices services_ = nullptr;
    GlobalBlock state_;
    GlobalBlock vars_;
    std::unique_ptr<ReservedRegion> heap_;
    bool created_ = false;
    std::string name_;                   // the library keeps a pointer to it
};

constexpr uint16_t kVarSlots = 4096;     // slots of the global variable table
constexpr SIZE_T kVarSlotSize = 96;
constexpr SIZE_T kHeapReserve = SIZE_T(1) << 30;   // address space for the string heap
constexpr const char* kHostName = "KEL";
extern const char* const kHostVersion;
