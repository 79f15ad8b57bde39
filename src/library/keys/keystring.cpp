// The key-string reader (see keystring.h).
#include "library/keys/keystring.h"
#include "library/keys/keynames.h"
#include <cwchar>

namespace keys {

namespace {

// "{...}" at p (p[0] is "{"): the name (its first character taken as it is,
// so "{}}" and "{{ 3}" work), an optional count after blanks, and the end.
// False when the brace is not closed or the count is not a number.
bool read_braces(const wchar_t* p, const wchar_t** name, size_t* nameLen, int64_t* count, bool* counted,
                 const wchar_t** after) {
    if (!p[1]) return false;
    const wchar_t* n = p + 1;
    const wchar_t* q = p + 2;
    while (*q && *q != L'}' && *q != L' ') ++q;
    *name = n;
    *nameLen = static_cast<size_t>(q - n);
    *counted = false;
    while (*q == L' ') ++q;
    if (*q != L'}') {
        bool neg = *q == L'-';
        if (*q == L'-' || *q == L'+') ++q;
        if (*q < L'0' || *q > L'9') return false;
        int64_t v = 0;
        for (; *q >= L'0' && *q <= L'9'; ++q)
            if (v < 1000000000000LL) v = v * 10 + (*q - L'0');
        while (*q == L' ') ++q;
        if (*q != L'}') return false;
        *count = neg ? -v : v;
        *counted = true;
    }
    *after = q + 1;
    return true;
}

}  // namespace

const ModKey kModKeys[12] = {
    {M_SHIFT, 16}, {M_LSHIFT, 160}, {M_RSHIFT, 161}, {M_CTRL, 17}, {M_LCTRL, 162}, {M_RCTRL, 163},
    {M_LWIN, 91},  {M_RWIN, 92},    {M_APPS, 93},    {M_ALT, 18},  {M_LALT, 164},  {M_RALT, 165},
};

uint16_t mod_of_vk(uint8_t vk) {
    for (const ModKey& m : kModKeys)
        if (m.vk == vk) return m.mod;
    return 0;
}

Parse next_step(const wchar_t** p, KeyStep* out) {
    *out = KeyStep{0, 0, false, 0, 1};
    const wchar_t* s = *p;
    for (;; ++s) {
        switch (*s) {
        case 0: *p = s; return Parse::End;
        case L'+': out->mods |= M_SHIFT; continue;
        case L'^': out->mods |= M_CTRL; continue;
        case L'!': out->mods |= M_ALT; continue;
        case L'~': out->vk = 13; *p = s + 1; return Parse::Step;
        case L'\r':
            out->vk = 13;
            *p = s + (s[1] == L'\n' ? 2 : 1);
            return Parse::Step;
        case L'\n': out->vk = 13; *p = s + 1; return Parse::Step;
        case L'{': break;
        default: out->ch = *s; *p = s + 1; return Parse::Step;
        }
        const wchar_t *name, *after;
        size_t len;
        bool counted;
        if (!read_braces(s, &name, &len, &out->count, &counted, &after)) {
            *p = s;
            return Parse::Stop;
        }
        if (len == 1) {
            out->ch = name[0];
        } else {
            const KeyName* k = key_name_find(name, len);
            if (!k) {
                *p = s;
                return Parse::Stop;
            }
            if (k->flags & KN_HOLD) {   // held for the key that follows
                out->mods |= mod_of_vk(k->vk);
                out->count = 1;
                s = after - 1;
                continue;
            }
            out->vk = k->vk;
            out->extended = (k->flags & KN_EXTENDED) != 0;
        }
        *p = after;
        return Parse::Step;
    }
}

}  // namespace keys
