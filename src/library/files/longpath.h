// The long-path routine: every name argument of the file functions (and of
// the other families that open files by name) goes through it before a system
// call sees it.
//
// A name of fewer than MAX_PATH characters is used as written (relative names
// stay relative to the current directory). A longer one is made absolute and
// given the "\\?\" prefix ("\\?\UNC\" for a network name), which lifts the
// system's MAX_PATH limit. A name that already carries a prefix is used as
// written. A name that cannot be converted (the system cannot make it
// absolute, or the result exceeds 32767 characters) raises 1433 "File and
// Directory functions: Path too long".
#pragma once
#include "state.h"
#include <string>

constexpr size_t LONG_PATH_MAX = 32767;

class WidePath {
public:
    const wchar_t* c_str() const { return text_.c_str(); }
    size_t length() const { return text_.size(); }
    bool empty() const { return text_.empty(); }
    std::wstring& str() { return text_; }
    const std::wstring& str() const { return text_; }
    // Characters a name analysis skips: 8 for "\\?\UNC\", 4 for "\\?\", else 0.
    size_t prefix() const { return path_prefix(text_.c_str()); }
    static size_t path_prefix(const wchar_t* name);

private:
    std::wstring text_;
    friend bool file_long_path(State*, const wchar_t*, size_t, WidePath*);
};

// The absolute form of a path, at any length; false when the system cannot
// make one or it would exceed LONG_PATH_MAX characters.
bool absolute_path(const std::wstring& path, std::wstring* out);
// The same, or the path as given when there is no absolute form.
std::wstring absolute_or_given(const std::wstring& path);

// Converts `name` (`len` characters) into `out`. False with 1433 set.
bool file_long_path(State* st, const wchar_t* name, size_t len, WidePath* out);
// The same for a name argument cell (converted to wide text by the dispatcher).
bool file_long_path(State* st, const Cell* arg, WidePath* out);
// The same for an ANSI name in the state's code page (1433 also when it does
// not convert).
bool file_long_path_ansi(State* st, const char* name, WidePath* out);
