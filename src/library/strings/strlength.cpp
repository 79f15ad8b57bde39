// StrLen, StrCharCount: characters; StrByteCount: bytes of either form.
#include "library/strings/strings.h"

using namespace strings;

void fn_strlen(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) {
        using C = decltype(unit);
        Env<C> env(st);
        cell_set_int(st, result, static_cast<int32_t>(env.text(args[1]).chars()));
    });
}

// StrByteCount(s, type): 0 bytes of the ANSI form, 1 bytes of the wide form,
// -1 bytes of the form the value has (a value that is not text is measured
// in the ANSI form, as its text would be).
void fn_strbytecount(State* st, int, Cell* result, Cell* args, bool) {
    const int type = args[2].i;
    Cell* s = &args[1];
    bool wideForm;
    if (type == 0) wideForm = false;
    else if (type == 1) wideForm = true;
    else if (type == -1) wideForm = (s->type & TW_UNICODE) != 0;
    else {
        st->err = 1809;
        return;
    }
    if (wideForm) {
        if (!arg_wide(st, s)) return;
        cell_set_int(st, result, static_cast<int32_t>(wcslen(cell_wstr(st, s)) * 2));
    } else {
        if (!arg_ansi(st, s)) return;
        cell_set_int(st, result, static_cast<int32_t>(strlen(cell_str(st, s))));
    }
}

void fn_strcharcount(State* st, int nargs, Cell* result, Cell* args, bool wide) {
    fn_strlen(st, nargs, result, args, wide);
}
