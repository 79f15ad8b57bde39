// The line reader and writer of the array and map file functions: two
// functions, so that they can move onto the file family's own reader,
// writer and settings without touching their callers.
//
// Reading: the file is opened with the file settings' read-share mode; it is
// read in blocks of the line-length setting when that is positive, else of
// its size clamped to 4096..32768 bytes; the block is also the longest line
// plus one. Lines end at a line feed; carriage returns are
// dropped wherever they occur; a NUL byte becomes `nul` (nothing when it is
// empty); a last line without a line feed counts only when it holds a byte.
// Writing: the file is created or truncated with the write-share mode, and
// every line is followed by the line-terminator setting (CR LF by default).
#pragma once
#include "state.h"
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace items {

// Calls `line` for every line of the file, in order; `line` returns false
// to stop (with the error set). Returns 0, or the error number it set: 1800
// the file could not be opened, 1801 a read failed, 1591 a line too long.
int read_lines(State* st, const wchar_t* path, std::string_view nul,
               const std::function<bool(const char* p, size_t n)>& line);

// Writes the lines `next` produces until it returns 0 (a line was put in
// *line: 1; failure, error set: -1). Returns 0 with the bytes written in
// *bytes, or the error number: 1800 the file could not be created, 1802 a
// write failed, or the producer's. What was written before a failure stays.
int write_lines(State* st, const wchar_t* path, const std::function<int(std::string* line)>& next,
                uint64_t* bytes);

// The result of a function that wrote a file: the bytes written.
void bytes_result(State* st, Cell* result, uint64_t bytes);

}  // namespace items
