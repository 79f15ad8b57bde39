// Generated scripts for robustness tests: lines drawn from a small grammar of
// the language's sore spots (deep nesting of structures and of arrays,
// recursion, long lines and long strings, percent substitution, open
// multi-line constants, labels, jumps and jump-marker bytes, definitions out
// of place, pointers, damaged bytes), calls of the library's functions with
// arguments chosen to hurt (wrong types, huge and negative sizes, empty and
// huge strings), corpus scripts mutated line- and byte-wise, and language
// files with damaged texts.
//
// Everything a generated script touches outside the interpreter stays in the
// current directory (files) and under the registry key
// HKEY_CURRENT_USER\Software\KelFuzz: run generated scripts from a scratch
// folder and remove the key afterwards (kScratchKey).
#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

constexpr const char* kScratchKey = "Software\\KelFuzz";

class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    int pick(int n) { return n > 0 ? static_cast<int>(rng_() % static_cast<uint32_t>(n)) : 0; }
    bool chance(int percent) { return pick(100) < percent; }
    template <size_t N> const char* any(const char* const (&a)[N]) { return a[pick(N)]; }

    std::string var();
    std::string number();
    std::string literal();
    std::string operand(int depth);
    std::string expr(int depth = 0);
    std::string call(int depth);
    std::string label();
    // One or more physical lines.
    std::string line(int depth = 0);
    // Structures opened and mostly (not always) closed, nested to any depth.
    std::string nest(int depth);
    // Blocks nested past the structure stack's 100 entries, or arrays held in
    // arrays many levels deep.
    std::string deep_structures();
    std::string deep_arrays();
    // Text that grows past the limits: long lines, long and huge strings,
    // percent substitution that overflows.
    std::string long_text();
    // A whole script: a prologue, then lines.
    std::string script();
    // A corpus script changed a little: lines dropped, repeated, swapped or
    // taken from elsewhere, bytes flipped or made 0, 26, 158 or 159, the text
    // cut short, a byte-order mark put in front.
    std::string mutate(const std::string& text);
    // The text of a language file (TLVDLANG): message texts with printf
    // conversions, marks, long values, damaged lines.
    std::string language_file();

    // ---- library calls (library_calls.cpp) ----
    // Statements that make the values the calls work on: a binary buffer bb
    // and its tag structure tg, a registry key hk under the scratch key, a
    // huge string big, wide text w, an array arr and a map m.
    std::string library_prologue();
    // A call of one of the listed functions of the families on main, with
    // some arguments missing or extra.
    std::string library_call();

private:
    std::string library_arg(int code, const std::string& family, int position);
    std::mt19937 rng_;
};

// Implemented built-in functions that no generator table lists and no
// exclusion names (a family that landed since): they should join.
std::vector<std::string> unlisted_builtins();
