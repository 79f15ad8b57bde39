// The wildcard matcher of StrIndexWild, StrLenWild, StrSubWild and of the
// item-list search ItemLocateWild.
//
// `*` matches any run of characters (the empty run too), `?` exactly one
// character, every other character itself, without regard to case. The
// match is anchored at the start of `text` and the result is the number of
// characters the pattern covers from there, 0 when it does not match. An
// empty text or an empty pattern gives 0.
//
// The matcher does not backtrack: a run of literal characters after `*`
// binds to its first occurrence. A pattern that ends in `*` covers the rest
// of the text; otherwise the match ends as early as the pattern allows.
#pragma once
#include <cstddef>
#include <cstdint>

struct State;

// ANSI text in the code page of the state (double-byte characters count once).
size_t wild_match_ansi(State* st, const char* text, const char* pattern);
// Wide text (one UTF-16 unit per character).
size_t wild_match_wide(const wchar_t* text, const wchar_t* pattern);

// The same with explicit rules and lengths in code units: `lead` marks the
// lead bytes of double-byte characters (nullptr: none), `upper` gives the
// upper-case byte of each byte.
size_t wild_match(const char* text, size_t textLen, const char* pattern, size_t patLen, const uint8_t* lead,
                  const uint8_t* upper);
size_t wild_match(const wchar_t* text, size_t textLen, const wchar_t* pattern, size_t patLen);
