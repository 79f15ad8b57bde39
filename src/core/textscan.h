// Scans of text in memory, sixteen bytes at a time: the length of a
// terminated text, the first place of a code unit, and copies. Used where texts are
// long and scanned often (copies of string values, item lists); the C
// runtime the library runs on may scan them one byte at a time.
#pragma once
#include <cstddef>

size_t text_len(const char* s);
size_t text_len(const wchar_t* s);
// The first unit equal to c in p[0..n), or nullptr.
const char* text_find(const char* p, size_t n, char c);
const wchar_t* text_find(const wchar_t* p, size_t n, wchar_t c);
// The k-th unit (1-based) equal to c in p[0..n), or nullptr; k = 0 gives
// nullptr. With `count`, the number of units equal to c (all of them when
// there are fewer than k) is stored there.
const char* text_nth(const char* p, size_t n, char c, size_t k, size_t* count = nullptr);
const wchar_t* text_nth(const wchar_t* p, size_t n, wchar_t c, size_t k, size_t* count = nullptr);
// The k-th unit (1-based) equal to c in the terminated text s, found without
// measuring the text first; nullptr when the text ends before it (*end is
// then its terminator).
const char* text_nth_z(const char* s, char c, size_t k, const char** end);
const wchar_t* text_nth_z(const wchar_t* s, wchar_t c, size_t k, const wchar_t** end);
// Copies n bytes (the areas must not overlap): short ones sixteen at a time.
void text_copy(void* dst, const void* src, size_t n);
// Copies the text at `from` up to its terminator, at most size - 1 bytes, into
// `to` (size bytes) and terminates it there.
void text_copy_z(char* to, const char* from, size_t size);
// Whether the terminated texts a and b are equal, each in a buffer of at
// least `size` bytes (whole 16-byte blocks inside it are read at once).
bool text_equal_in(const char* a, const char* b, size_t size);
