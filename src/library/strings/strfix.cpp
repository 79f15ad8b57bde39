// StrFill (a filler repeated to a length) and the StrFix family: a string
// cut or padded to an exact length in characters (StrFix, StrFixChars,
// StrFixLeft, StrFixCharsL) or in bytes of its form (StrFixBytes,
// StrFixBytesL). Each result is sized first and allocated once.
#include "library/strings/strings.h"

using namespace strings;

namespace {

template <class C>
void strfill(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    const int64_t length = args[2].i;
    if (length <= 0) {   // a length of 0 (or below) gives the empty string
        result_empty<C>(st, result);
        return;
    }
    const Cycle<C> fill(env, env.text(args[1]));
    const uint64_t units = fill.units(static_cast<uint64_t>(length));
    if (!fits_heap(st, units, sizeof(C))) {
        st->err = 3096;
        return;
    }
    WorkBuffer work;
    if (!work.alloc(st, (units + 1) * sizeof(C))) return;
    fill.write(work.get<C>(), static_cast<uint64_t>(length));
    result_copy(st, result, work.get<C>(), static_cast<size_t>(units));
}

// s cut or padded to `length` characters, the pad on the right or the left.
template <class C>
void fix_chars(const Env<C>& env, Cell* result, const Text<C>& s, const Cycle<C>& pad, uint64_t length, bool left) {
    const uint64_t n = s.chars();
    if (n >= length) {
        const size_t from = left ? s.skip(0, n - length) : 0;
        const size_t to = left ? s.len : s.skip(0, length);
        result_copy(env.st, result, s.p + from, to - from);
        return;
    }
    const uint64_t k = length - n;
    C* out = result_alloc<C>(env.st, result, s.len + pad.units(k));
    if (!out) return;
    if (left) out = pad.write(out, k);
    memcpy(out, s.p, s.len * sizeof(C));
    if (!left) pad.write(out + s.len, k);
}

// The same to `bytes` units of the ANSI form: a double-byte character cut by
// the limit becomes a space, so the result never holds half a character.
void fix_bytes(const Env<char>& env, Cell* result, const Text<char>& s, const Cycle<char>& pad, uint64_t bytes,
               bool left) {
    char* out = result_alloc<char>(env.st, result, bytes);
    if (!out) return;
    if (s.len >= bytes) {
        if (left) {
            const size_t cut = s.len - static_cast<size_t>(bytes);
            size_t i = 0;
            while (i < cut) i = s.next(i);
            if (i > cut) *out++ = ' ';
            memcpy(out, s.p + i, s.len - i);
        } else {
            size_t i = 0;
            for (; i < s.len && i + s.width(i) <= bytes; i = s.next(i)) {}
            memcpy(out, s.p, i);
            if (i < bytes) out[i] = ' ';
        }
        return;
    }
    if (left) out = pad.write_units(out, bytes - s.len);
    memcpy(out, s.p, s.len);
    if (!left) pad.write_units(out + s.len, bytes - s.len);
}

template <class C>
void strfix(State* st, Cell* result, Cell* args, bool left, bool inBytes) {
    Env<C> env(st);
    const Cycle<C> pad(env, env.text(args[2]));
    const int64_t length = args[3].i;
    if (length < 0 || (inBytes && sizeof(C) == 2 && length % 2)) {
        st->err = 1571;
        return;
    }
    const Text<C> s = env.text(args[1]);
    if constexpr (sizeof(C) == 1) {
        if (inBytes) return fix_bytes(env, result, s, pad, static_cast<uint64_t>(length), left);
    }
    fix_chars(env, result, s, pad, static_cast<uint64_t>(inBytes ? length / 2 : length), left);
}

void fix_call(State* st, Cell* result, Cell* args, bool wide, bool left, bool inBytes) {
    both_forms(wide, [&](auto unit) { strfix<decltype(unit)>(st, result, args, left, inBytes); });
}

}  // namespace

void fn_strfill(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { strfill<decltype(unit)>(st, result, args); });
}

void fn_strfix(State* st, int, Cell* result, Cell* args, bool wide) { fix_call(st, result, args, wide, false, false); }
void fn_strfixleft(State* st, int, Cell* result, Cell* args, bool wide) { fix_call(st, result, args, wide, true, false); }
void fn_strfixbytes(State* st, int, Cell* result, Cell* args, bool wide) { fix_call(st, result, args, wide, false, true); }
void fn_strfixbytesl(State* st, int, Cell* result, Cell* args, bool wide) { fix_call(st, result, args, wide, true, true); }
void fn_strfixchars(State* st, int, Cell* result, Cell* args, bool wide) { fix_call(st, result, args, wide, false, false); }
void fn_strfixcharsl(State* st, int, Cell* result, Cell* args, bool wide) { fix_call(st, result, args, wide, true, false); }
