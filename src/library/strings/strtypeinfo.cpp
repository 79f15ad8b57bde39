// StrTypeInfo(s, request): the platform's basic character classes of a
// string (request 0: the classes every character has, 1: those any character
// has) as a decimal number, or (request -1) the names of the class bits of a
// number. Wide form only.
#include "library/strings/strings.h"
#include <cstdio>
#include <string>

using namespace strings;

namespace {

struct ClassName {
    WORD        bit;
    const char* name;
};
constexpr ClassName kClassNames[] = {
    {C1_UPPER, "Upper"}, {C1_LOWER, "Lower"},  {C1_DIGIT, "Digit"},   {C1_SPACE, "Space"}, {C1_PUNCT, "Punct"},
    {C1_CNTRL, "Cntrl"}, {C1_BLANK, "Blank"}, {C1_XDIGIT, "HexDg"}, {C1_ALPHA, "Alpha"},
};
constexpr WORD kDefined = 0x200;   // the platform's "defined character" class

bool set_ascii(State* st, Cell* result, const std::string& text) {
    wchar_t* out = result_alloc<wchar_t>(st, result, text.size());
    if (!out) return false;
    for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<unsigned char>(text[i]);
    return true;
}

// The class flags of every character combined with AND (all) or OR (any).
void combined_flags(State* st, Cell* result, const Text<wchar_t>& s, bool any) {
    unsigned flags = any ? 0 : 0xFFFF;
    if (s.empty()) {
        flags = 0;
    } else {
        WorkBuffer types;
        if (!types.alloc(st, s.len * sizeof(WORD))) return;
        if (s.len > 0x7FFFFFFF || !GetStringTypeW(CT_CTYPE1, s.p, static_cast<int>(s.len), types.get<WORD>())) {
            platform_error(st, "GetStringTypeW", GetLastError());
            st->err = 1825;
            return;
        }
        for (size_t i = 0; i < s.len; ++i) flags = any ? flags | types.get<WORD>()[i] : flags & types.get<WORD>()[i];
    }
    set_ascii(st, result, std::to_string(flags));
}

void class_names(State* st, Cell* result, Cell* value) {
    if (!arg_ansi(st, value)) return;
    int64_t v;
    bool is64;
    if (!text_is_integer(cell_str(st, value), true, &v, &is64)) {
        st->err = 1824;
        return;
    }
    std::string names;
    for (const ClassName& c : kClassNames)
        if (v & c.bit) names.append(c.name).append(" ");
    if (!(v & kDefined)) names.append("Undef ");
    if (!names.empty()) names.pop_back();
    set_ascii(st, result, names);
}

}  // namespace

void fn_strtypeinfo(State* st, int, Cell* result, Cell* args, bool) {
    const int request = args[2].i;
    if (request == -1) return class_names(st, result, &args[1]);
    if (request != 0 && request != 1) {
        st->err = 1822;
        return;
    }
    if (!arg_wide(st, &args[1])) return;
    Env<wchar_t> env(st);
    combined_flags(st, result, env.text(args[1]), request == 1);
}
