// The function symbols of the running test program, read from the COFF
// symbol table that the linker leaves in the executable, so that a code
// address can be named ("fn_strcat+0x3c") and classified: is it the
// interpreter's own code, or the C++ runtime, GoogleTest and the test's
// allocation hooks that only pass allocations on?
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace inject {

struct Symbol {
    uintptr_t   addr;    // run-time address of the function's first byte
    std::string name;    // as the linker has it (mangled)
    bool        own;     // the interpreter's code (see ProgramSymbols::load)
};

class ProgramSymbols {
public:
    // Reads this program's symbol table. A symbol is "own" when it is a C++
    // name outside the runtime's namespaces (std, __gnu_cxx, __cxxabiv1,
    // operator new/delete), GoogleTest and the hooks (namespace inject), or a
    // C name listed in `ownCNames` (the library's exports). False when the
    // program carries no symbol table.
    bool load(const std::set<std::string>& ownCNames);

    // The function that contains `addr`, or nullptr.
    const Symbol* at(uintptr_t addr) const;
    // "name+0xOFFSET" with the name demangled, or the bare address.
    std::string describe(uintptr_t addr) const;
    const std::vector<Symbol>& all() const { return syms_; }

private:
    std::vector<Symbol> syms_;
    uintptr_t textEnd_ = 0;
};

// The demangled form of a linker name (the name itself when it is not mangled).
std::string demangle(const std::string& name);

}  // namespace inject
