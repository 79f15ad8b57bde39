// File lists: names separated by the file-list delimiter, tab or "|", each
// possibly with "*" and "?" in its last component; and destinations, which
// are a single name, a directory, or a pattern target names derive from.
#pragma once
#include "library/files/internal.h"
#include <functional>
#include <vector>

// One entry found by the directory search.
struct FoundEntry {
    std::wstring dir;      // directory part of the searched name, as written (may be empty)
    std::wstring path;     // dir + name
    WIN32_FIND_DATAW data;
};

enum class ListKind {
    Files,        // regular files (directories passed over)
    Dirs,         // directories other than "." and ".."
};

struct ListOptions {
    ListKind kind = ListKind::Files;
    bool     allowEmpty = false;    // no match is not an error (else 1002)
    bool     hiddenRule = false;    // pass over hidden and system entries unless the setting says otherwise
};

// Splits a list (leading and repeated separators skipped). False with 3054
// for a name of 32766 characters or more.
bool split_file_list(State* st, const wchar_t* list, std::vector<std::wstring>* names);

// Calls `step` for every entry that every name of the list matches, in the
// order of the system's search; a step returning false stops the list (its
// error stands). Entries are collected per name before the steps run, so a
// step may create or remove files in the searched directory. Names go
// through the long-path routine. False when something failed (error set).
bool for_each_entry(State* st, const wchar_t* list, const ListOptions& opt,
                    const std::function<bool(const FoundEntry&)>& step);

// Raises `error` for the first name of the list that has no wildcards and
// names no file (no directory with `dirs`). False then.
bool names_exist(State* st, const wchar_t* list, bool dirs, int error);

// The target of a source file name for a destination, by the rules above.
class Destination {
public:
    // False with the error set (1433).
    bool init(State* st, const wchar_t* dest);
    bool wildcard() const { return !pattern_.empty(); }
    // Target path for a source whose own name (no directory) is `name`.
    std::wstring target(const std::wstring& name) const;

private:
    std::wstring dir_;       // directory part with its separator
    std::wstring pattern_;   // name pattern, empty for a single file name
    std::wstring single_;    // the single file name
};

// The target name a pattern with "*" and "?" gives for `name`: the name part
// and the extension part (after the last ".") are derived separately; "*"
// takes the rest of the source part, "?" the source character at its place.
std::wstring derive_name(const std::wstring& name, const std::wstring& pattern);

// Whether two paths name the same file (full paths compared without regard to case).
bool same_file(const std::wstring& a, const std::wstring& b);
