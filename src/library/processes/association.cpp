// Data files: a file that is not a program is opened with the program the
// system associates with its extension. The registered command of the
// extension's default verb is used first (it says where the file and the
// parameters go); a program found by FindExecutableW gets the file as its
// first parameter.
#include "library/processes/proc_internal.h"
#include <shellapi.h>
#include <shlwapi.h>

namespace proc {

namespace {

std::wstring quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

// The registered command of the file's type ("notepad.exe %1"), "" when none.
std::wstring registered_command(const std::wstring& file) {
    const wchar_t* ext = PathFindExtensionW(file.c_str());
    if (!ext || !*ext) return std::wstring();
    DWORD n = 0;
    if (AssocQueryStringW(ASSOCF_NOTRUNCATE, ASSOCSTR_COMMAND, ext, nullptr, nullptr, &n) != S_FALSE || n == 0)
        return std::wstring();
    std::wstring cmd(n, L'\0');
    if (FAILED(AssocQueryStringW(ASSOCF_NOTRUNCATE, ASSOCSTR_COMMAND, ext, nullptr, cmd.data(), &n)))
        return std::wstring();
    cmd.resize(wcsnlen(cmd.c_str(), cmd.size()));
    const DWORD m = ExpandEnvironmentStringsW(cmd.c_str(), nullptr, 0);
    if (m) {
        std::wstring expanded(m, L'\0');
        if (ExpandEnvironmentStringsW(cmd.c_str(), expanded.data(), m)) {
            expanded.resize(wcsnlen(expanded.c_str(), expanded.size()));
            cmd.swap(expanded);
        }
    }
    return cmd;
}

// Fills the placeholders of a registered command: %1 and %L the file, %*
// the parameters, other numbered ones nothing. A file placeholder outside
// quotes gets quotes. Without placeholders the file and the parameters are
// appended.
std::wstring fill_command(const std::wstring& tpl, const std::wstring& file, const std::wstring& params) {
    std::wstring out;
    bool hadFile = false, hadParams = false, inQuotes = false;
    for (size_t i = 0; i < tpl.size(); ++i) {
        const wchar_t c = tpl[i];
        if (c == L'"') inQuotes = !inQuotes;
        if (c != L'%' || i + 1 >= tpl.size()) {
            out += c;
            continue;
        }
        const wchar_t k = tpl[++i];
        if (k == L'1' || k == L'L' || k == L'l') {
            out += inQuotes ? file : quoted(file);
            hadFile = true;
        } else if (k == L'*') {
            out += params;
            hadParams = true;
        } else if (k >= L'0' && k <= L'9') {
            // a parameter the script cannot give: nothing
        } else {
            out += c;
            out += k;
        }
    }
    if (!hadFile) out += L" " + quoted(file);
    if (!hadParams && !params.empty()) out += L" " + params;
    return out;
}

// The command runs the file itself ("%1" %*, the entry of programs).
bool runs_itself(const std::wstring& tpl) {
    size_t i = tpl.find_first_not_of(L" \t\"");
    return i != std::wstring::npos && tpl.compare(i, 2, L"%1") == 0;
}

}  // namespace

Assoc association_command(const std::wstring& file, const std::wstring& params, std::wstring* command) {
    const std::wstring tpl = registered_command(file);
    if (!tpl.empty()) {
        if (runs_itself(tpl)) return Assoc::Itself;
        *command = fill_command(tpl, file, params);
        return Assoc::Found;
    }
    wchar_t exe[MAX_PATH] = L"";
    if (reinterpret_cast<uintptr_t>(FindExecutableW(file.c_str(), nullptr, exe)) <= 32 || !exe[0]) return Assoc::None;
    if (CompareStringOrdinal(exe, -1, file.c_str(), -1, TRUE) == CSTR_EQUAL) return Assoc::Itself;
    *command = quoted(exe) + L" " + quoted(file) + (params.empty() ? L"" : L" " + params);
    return Assoc::Found;
}

}  // namespace proc
