#include "support/program_symbols.h"
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>

namespace inject {

namespace {

// Name prefixes of code that is not the interpreter's although it is linked
// into the program: the C++ runtime, GoogleTest and the allocation hooks.
const char* const kForeignPrefixes[] = {
    "_ZNSt", "_ZNKSt", "_ZSt", "_ZZNSt", "_ZZNKSt", "_ZZSt", "_ZNSs", "_ZNKSs", "_ZNSbIw", "_ZNKSbIw",
    "_ZNSi", "_ZNSo", "_ZN9__gnu_cxx", "_ZNK9__gnu_cxx", "_ZN10__cxxabiv1", "_ZNK10__cxxabiv1",
    "_Znw", "_Zna", "_Zdl", "_Zda", "_ZN7testing", "_ZNK7testing", "_ZZN7testing", "_ZN6inject", "_ZNK6inject",
    "_ZZN6inject", "_ZGV", "_ZTh", "_ZTv", "_ZTW", "_ZTH",
};

bool is_own(const std::string& name, const std::set<std::string>& ownCNames) {
    if (name.compare(0, 2, "_Z") != 0) return ownCNames.count(name) != 0;
    for (const char* p : kForeignPrefixes)
        if (name.compare(0, strlen(p), p) == 0) return false;
    return true;
}

bool read_file(const char* path, std::vector<uint8_t>* out) {
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(f, &size) && size.QuadPart > 0 && size.QuadPart < (1ll << 31);
    if (ok) {
        out->resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = ReadFile(f, out->data(), static_cast<DWORD>(out->size()), &got, nullptr) && got == out->size();
    }
    CloseHandle(f);
    return ok;
}

}  // namespace

std::string demangle(const std::string& name) {
    int status = 0;
    char* d = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    if (!d) return name;
    std::string s(d);
    free(d);
    return s;
}

bool ProgramSymbols::load(const std::set<std::string>& ownCNames) {
    syms_.clear();
    char path[MAX_PATH];
    if (!GetModuleFileNameA(nullptr, path, sizeof path)) return false;
    std::vector<uint8_t> file;
    if (!read_file(path, &file) || file.size() < sizeof(IMAGE_DOS_HEADER)) return false;
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    if (static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64) > file.size()) return false;
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(file.data() + dos->e_lfanew);
    const IMAGE_FILE_HEADER& fh = nt->FileHeader;
    const size_t symOff = fh.PointerToSymbolTable, nsyms = fh.NumberOfSymbols;
    if (!symOff || !nsyms || symOff + nsyms * 18 + 4 > file.size()) return false;
    auto* sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
        reinterpret_cast<const uint8_t*>(&nt->OptionalHeader) + fh.SizeOfOptionalHeader);
    const uint8_t* strings = file.data() + symOff + nsyms * 18;
    uint32_t stringsSize;
    memcpy(&stringsSize, strings, 4);
    if (symOff + nsyms * 18 + stringsSize > file.size()) return false;
    const uintptr_t base = reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));

    for (size_t i = 0; i < nsyms; ++i) {
        const uint8_t* s = file.data() + symOff + i * 18;
        uint32_t value;
        int16_t section;
        uint16_t type;
        memcpy(&value, s + 8, 4);
        memcpy(&section, s + 12, 2);
        memcpy(&type, s + 14, 2);
        const uint8_t aux = s[17];
        // Functions (derived type 2 in bits 4-5) of a real section.
        if ((type & 0x30) == 0x20 && section > 0 && section <= fh.NumberOfSections) {
            std::string name;
            uint32_t zero, off;
            memcpy(&zero, s, 4);
            memcpy(&off, s + 4, 4);
            if (zero == 0) {
                if (off < stringsSize) name = reinterpret_cast<const char*>(strings + off);
            } else {
                name.assign(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), 8));
            }
            const uintptr_t addr = base + sections[section - 1].VirtualAddress + value;
            syms_.push_back({addr, name, is_own(name, ownCNames)});
        }
        i += aux;
    }
    std::sort(syms_.begin(), syms_.end(), [](const Symbol& a, const Symbol& b) { return a.addr < b.addr; });
    for (int k = 0; k < fh.NumberOfSections; ++k)
        if (sections[k].Characteristics & IMAGE_SCN_CNT_CODE)
            textEnd_ = std::max<uintptr_t>(textEnd_, base + sections[k].VirtualAddress + sections[k].Misc.VirtualSize);
    return !syms_.empty();
}

const Symbol* ProgramSymbols::at(uintptr_t addr) const {
    if (addr >= textEnd_) return nullptr;
    auto it = std::upper_bound(syms_.begin(), syms_.end(), addr,
                               [](uintptr_t a, const Symbol& s) { return a < s.addr; });
    return it == syms_.begin() ? nullptr : &*(it - 1);
}

std::string ProgramSymbols::describe(uintptr_t addr) const {
    char buf[64];
    const Symbol* s = at(addr);
    if (!s) {
        snprintf(buf, sizeof buf, "%#llx", static_cast<unsigned long long>(addr));
        return buf;
    }
    snprintf(buf, sizeof buf, "+%#llx", static_cast<unsigned long long>(addr - s->addr));
    return demangle(s->name) + buf;
}

}  // namespace inject
