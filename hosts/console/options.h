// Command line of kel.exe: `kel [options] script [args...]`.
#pragma once
#include <string>
#include <vector>

struct Options {
    enum Action { Run, Help, Version, UsageError };
    Action action = Run;
    bool dialogs = false;               // --dialogs: the library shows its own boxes
    std::wstring trace;                 // --trace FILE: the statement trace from the first line
    std::wstring script;                // path as given
    std::vector<std::wstring> args;     // become param1..paramN
    std::wstring error;                 // UsageError: what was wrong
};

// Options end at the first argument that does not start with "-" (the script) or
// after "--"; everything after the script belongs to the script.
Options parse_options(int argc, wchar_t** argv);

// One parameter string for the library's splitter: every argument in double
// quotes, embedded double quotes doubled.
std::wstring quote_params(const std::vector<std::wstring>& args);

extern const wchar_t* const kUsageText;
