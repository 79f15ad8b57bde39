#include "host_functions.h"
#include <cstring>
#include <string>
#include "streams.h"

namespace {

enum HostFn : uint32_t { FN_STDOUT = 0, FN_STDERR = 1, FN_STDIN = 2 };

// Argument type 6 asks the library for text: any value (a number formatted by
// the library's own rules, ANSI or wide text) arrives as a string, ANSI text
// as it is and wide text as wide. Host functions are called like extenders of
// interface level 4, whose string records carry 8-bit text in `str`; a wide
// string keeps its UTF-16 original in `wstr` beside it, which is read first.
constexpr uint64_t AT_TEXT_1 = 6;

KelFunction make_fn(uint32_t code, uint64_t types, uint32_t required, const char* name)
{
    KelFunction f{};
    f.code = code;
    f.cls = 2;                             // a function
    f.argTypes = types;
    f.value = required;                    // no optional arguments
    f.nameLen = (uint16_t)strlen(name);
    memcpy(f.name, name, f.nameLen);
    return f;
}

const KelFunction kTable[] = {
    make_fn(FN_STDOUT, AT_TEXT_1, 1, "stdout"),
    make_fn(FN_STDERR, AT_TEXT_1, 1, "stderr"),
    make_fn(FN_STDIN, 0, 0, "stdin"),
    KelFunction{},                        // nameLen 0 ends the table
};

int64_t answer_int(KelAnswer answer, KelServices* sv, int32_t v)
{
    KelValue r{};
    r.type = 1;                            // INT
    r.ival = v;
    return answer(0, 0, sv, &r);
}

// Text that has an ANSI spelling goes back as an 8-bit string, like the
// script's own literals; other text as a wide string.
int64_t answer_text(KelAnswer answer, KelServices* sv, const std::wstring& text)
{
    KelValue r{};
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0, nullptr, &lossy);
    std::string ansi;
    if (!lossy && n > 0) {
        ansi.assign(n - 1, '\0');
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, ansi.data(), n, nullptr, nullptr);
        r.type = 2;                        // STRING
        r.str = ansi.c_str();
    } else {
        r.type = 0x80;                     // UNICODE
        r.wstr = text.c_str();
    }
    return answer(0, 0, sv, &r);
}

std::wstring arg_text(const KelValue* args, int64_t n, int i)
{
    if (!args || i >= n) return {};
    if ((args[i].type & 0x80) && args[i].wstr) return args[i].wstr;
    if ((args[i].type & 2) && args[i].str) return from_ansi(args[i].str);
    return {};
}

} // namespace

const KelFunction* host_function_table() { return kTable; }

int64_t host_entry(HWND, void*, uint32_t, int32_t request, void* p1, KelServices* services, void*,
                   void* p4, int64_t n, void*)
{
    if (request < 0) return 0;             // notifications: kel.exe asks for none
    KelAnswer answer = reinterpret_cast<KelAnswer>(p1);
    const KelValue* args = static_cast<const KelValue*>(p4);
    if (!answer || !services) return -3;
    switch (request) {
    case FN_STDOUT:
        return answer_int(answer, services, std_out().write_line(arg_text(args, n, 0)) ? 1 : 0);
    case FN_STDERR:
        return answer_int(answer, services, std_err().write_line(arg_text(args, n, 0)) ? 1 : 0);
    case FN_STDIN: {
        std::wstring line;
        std_in().read_line(line);          // at the end of input the answer is ""
        return answer_text(answer, services, line);
    }
    }
    return -3;
}
