// Function calls as both evaluators make them: the argument counts a callable
// id takes, arguments lent by variables, and the call of the dispatcher with
// the release of the arguments. The ordinary evaluator (eval.cpp) reads the
// argument list from tokens; a compiled expression (exprcache.cpp) has the
// arguments on its stack.
#include "dispatch.h"
#include "eval.h"
#include "exec.h"
#include "heap.h"
#include "keywords.h"
#include "textscan.h"
#include "value.h"
#include <cstring>

int call_signature(State* st, uint32_t id, int* req, int* opt, uint64_t* types, SelfParsingFn* ownParser) {
    *types = 0;
    *ownParser = nullptr;
    if (id >= UDFSTART && id < UDFSTART + 999) {
        const UdfRecord* u = udf_record(st, id - UDFSTART);
        if (!u) return 3046;
        *req = u->params;   // a user-defined function has no optional parameters
        *opt = 0;
        return 0;
    }
    const KeywordRec* rec = kw_record(st, id);
    if (!rec) return 3046;
    *req = rec->value & 0xFF;
    *opt = (rec->value >> 8) & 0xFF;
    *types = rec->argTypes;
    if (*req == 255) {   // any number of arguments
        *req = 0;
        *opt = MAX_CALL_ARGS;
        *ownParser = self_parsing_lookup(id);
    } else if (*req + *opt > MAX_CALL_ARGS) {
        return 3070;
    }
    return 0;
}

bool own_text(State* st, Cell* c) {
    const char* text = heap_ptr(st, c->str);
    const uint64_t h = heap_strdup(st, text, text_len(text));
    if (!h) {
        st->err = 3096;
        return false;
    }
    c->str = h;
    return true;
}

bool unlend(State* st, Cell* args, LentArgs* lent, int k) {
    lent->mask &= ~(1u << k);
    if (own_text(st, &args[k])) return true;
    args[k].str = 0;   // the variable keeps its string
    return false;
}

bool unlend_all(State* st, Cell* args, LentArgs* lent) {
    for (int k = 1; k <= MAX_CALL_ARGS; k++)
        if ((lent->mask & (1u << k)) && !unlend(st, args, lent, k)) return false;
    return true;
}

void release_args(State* st, Cell* args, int n, const LentArgs* lent) {
    for (int k = 1; k <= n; k++) {
        if (lent && (lent->mask & (1u << k)) && (args[k].type & TW_STRING) && args[k].str == lent->handle[k])
            args[k].str = 0;
        cell_release(st, &args[k], CM_VARBOUND);
    }
}

namespace {

// Lent arguments that the dispatcher would convert get strings of their own
// first: a lent cell is only left as it is where ANSI text is what the
// argument takes.
bool keep_lent(State* st, Cell* args, int n, uint64_t types, LentArgs* lent) {
    const bool wideCall = call_is_wide(args, n, types);
    for (int k = 1; k <= n; k++) {
        if (!(lent->mask & (1u << k))) continue;
        const int code = arg_code(types, k);
        const bool kept = code == AT_ANSI || code == AT_ANY || ((code == AT_STRW6 || code == AT_STRW8) && !wideCall);
        if (!kept && !unlend(st, args, lent, k)) return false;
    }
    return true;
}

}  // namespace

bool call_invoke(State* st, const char* name, uint32_t id, Cell* out, Cell* args, int n, bool noConvert,
                 uint64_t types, LentArgs* lent) {
    cell_init(out, 0);
    if (lent && lent->mask && !keep_lent(st, args, n, types, lent)) {
        release_args(st, args, n, lent);
        return false;
    }
    // Array arguments hold an extra reference for the duration of the call.
    ArrayHdr* held[MAX_CALL_ARGS + 1];
    int nheld = 0;
    for (int k = 1; k <= n; k++)
        if ((args[k].type & TW_ARRAY) && args[k].arr) arr_addref(held[nheld++] = args[k].arr);
    const int e = dispatch(st, name, id, out, args, noConvert, n, types);
    for (int k = 0; k < nheld; k++) arr_release(st, held[k]);
    release_args(st, args, n, lent);
    if (e && !st->err) st->err = static_cast<uint16_t>(e);
    if (st->err) {
        cell_release(st, out, CM_VARBOUND);
        cell_init(out, 0);
        return false;
    }
    return true;
}
