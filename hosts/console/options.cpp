#include "options.h"

const wchar_t* const kUsageText =
    L"Usage: kel [options] script [args...]\n"
    L"\n"
    L"Runs a KEL script. The arguments become param1..paramN (param0 is their count).\n"
    L"\n"
    L"Options:\n"
    L"  --dialogs   show errors in the library's dialogs instead of on stderr\n"
    L"  --trace FILE\n"
    L"              write the statement trace to FILE from the first line on: each\n"
    L"              statement with its result, calls, errors and the end of the job\n"
    L"              (FILE is started afresh)\n"
    L"  --help      show this text and exit\n"
    L"  --version   show the version and exit\n"
    L"  --          end of options (the next argument is the script)\n"
    L"\n"
    L"Exit status: 0 the script ended normally or by Exit, 1 it stopped on an error\n"
    L"or a cancel or could not be started, 2 usage error or unreadable script file.\n";

Options parse_options(int argc, wchar_t** argv)
{
    Options o;
    int i = 1;
    for (; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--") { ++i; break; }
        if (a.size() < 2 || a[0] != L'-') break;        // "-" alone is a file name
        if (a == L"--help" || a == L"-h" || a == L"-?" || a == L"/?") { o.action = Options::Help; return o; }
        if (a == L"--version") { o.action = Options::Version; return o; }
        if (a == L"--dialogs") { o.dialogs = true; continue; }
        if (a == L"--trace" || a.rfind(L"--trace=", 0) == 0) {
            if (a == L"--trace" && i + 1 < argc) o.trace = argv[++i];
            else if (a != L"--trace") o.trace = a.substr(8);
            if (o.trace.empty()) {
                o.action = Options::UsageError;
                o.error = L"option '--trace' needs a file name";
                return o;
            }
            continue;
        }
        o.action = Options::UsageError;
        o.error = L"unknown option '" + a + L"'";
        return o;
    }
    if (i >= argc) {
        o.action = Options::UsageError;
        o.error = L"no script given";
        return o;
    }
    o.script = argv[i++];
    for (; i < argc; ++i) o.args.push_back(argv[i]);
    return o;
}

std::wstring quote_params(const std::vector<std::wstring>& args)
{
    std::wstring out;
    for (const std::wstring& a : args) {
        if (!out.empty()) out += L' ';
        out += L'"';
        for (wchar_t c : a) {
            if (c == L'"') out += L'"';
            out += c;
        }
        out += L'"';
    }
    return out;
}
