// Attribute strings (see attrstring.h).
#include "library/files/attrstring.h"
#include <cwchar>

namespace {
const struct {
    wchar_t letter;
    DWORD   bit;
} kAttrs[] = {
    {L'R', FILE_ATTRIBUTE_READONLY},
    {L'A', FILE_ATTRIBUTE_ARCHIVE},
    {L'S', FILE_ATTRIBUTE_SYSTEM},
    {L'H', FILE_ATTRIBUTE_HIDDEN},
};
}  // namespace

bool parse_attr_string(const wchar_t* s, DWORD* set, DWORD* clear) {
    *set = *clear = 0;
    if (wcslen(s) > 8) return false;
    for (; *s; ++s) {
        if (*s == L'-' || *s == L' ') continue;
        bool known = false;
        for (const auto& a : kAttrs) {
            if (*s == a.letter) *set |= a.bit, known = true;
            else if (*s == a.letter + (L'a' - L'A')) *clear |= a.bit, known = true;
        }
        if (!known) return false;
    }
    return true;
}

bool apply_attrs(const wchar_t* path, DWORD set, DWORD clear) {
    const DWORD old = GetFileAttributesW(path);
    if (old == INVALID_FILE_ATTRIBUTES) return false;
    DWORD now = (old | set) & ~clear;
    now &= FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN |
           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE;
    if (now == 0 && !(old & FILE_ATTRIBUTE_DIRECTORY)) now = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesW(path, now) != 0;
}

void attr_letters(DWORD a, wchar_t out[5]) {
    for (int i = 0; i < 4; ++i) out[i] = (a & kAttrs[i].bit) ? kAttrs[i].letter : L'-';
    out[4] = 0;
}
