// StrInsert and StrOverlay: a new text put into a base string at a start
// position, inserted or written over the base. Both exist only in the wide
// form; ANSI arguments are widened and the result is wide.
#include "library/strings/strings.h"

using namespace strings;

namespace {

// (base, new [, pad = " ", start = 1, length = length of new]). Missing base
// characters before start and missing characters of new are taken from pad,
// each time cycling from its first character.
void put_text(State* st, int nargs, Cell* result, Cell* args, bool overlay) {
    for (int k = 1; k <= std::min(nargs, 3); ++k)
        if (!arg_wide(st, &args[k])) return;
    Env<wchar_t> env(st);
    const Text<wchar_t> base = env.text(args[1]), text = env.text(args[2]);
    const Cycle<wchar_t> pad(env, nargs >= 3 ? env.text(args[3]) : Text<wchar_t>());
    int64_t start = nargs >= 4 ? args[4].i : 1;
    if (start == -1) {
        start = static_cast<int64_t>(base.len) + 1;   // append
    } else if (start < 1) {
        st->err = 1826;
        return;
    }
    const int64_t length = nargs >= 5 ? args[5].i : static_cast<int64_t>(text.len);
    if (length < 0) {
        st->err = 1827;
        return;
    }
    const uint64_t head = static_cast<uint64_t>(start - 1), len = static_cast<uint64_t>(length);
    const uint64_t fromBase = std::min<uint64_t>(head, base.len);
    const uint64_t fromText = std::min<uint64_t>(len, text.len);
    const uint64_t rest = overlay ? head + len : head;   // where the base goes on
    const uint64_t tail = rest < base.len ? base.len - rest : 0;
    wchar_t* out = result_alloc<wchar_t>(st, result, head + len + tail);
    if (!out) return;
    wmemcpy(out, base.p, fromBase);
    out = pad.write(out + fromBase, head - fromBase);
    wmemcpy(out, text.p, fromText);
    out = pad.write(out + fromText, len - fromText);
    wmemcpy(out, base.p + (base.len - tail), tail);
}

}  // namespace

void fn_strinsert(State* st, int nargs, Cell* result, Cell* args, bool) { put_text(st, nargs, result, args, false); }
void fn_stroverlay(State* st, int nargs, Cell* result, Cell* args, bool) { put_text(st, nargs, result, args, true); }
