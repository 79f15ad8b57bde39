// StrCat: its arguments joined in order.
//
// StrCat reads its own argument list (the evaluator hands it the call with
// "(" current), so it is not bound by the 16 arguments of ordinary
// functions: up to 1024 argument expressions are evaluated into a work area
// of cells from the global heap. When any argument is wide, all are joined
// in the wide form; otherwise in the ANSI form. Numbers join as their text.
#include "library/strings/strings.h"
#include "tokenizer.h"
#include <oleauto.h>

using namespace strings;

namespace {

constexpr int kMaxArgs = 1024;

bool holds_wide(const Cell& c) {
    if (c.type & TW_UNICODE) return true;
    return (c.type & TW_VARIANT) && (c.var.vt == VT_BSTR || c.var.vt == (VT_BSTR | VT_BYREF));
}

// Joins cells[0..n) (converted in place) into the result.
template <class C>
void join(State* st, Cell* result, Cell* cells, int n) {
    uint64_t units = 0;
    for (int k = 0; k < n; ++k) {
        if (!(sizeof(C) == 2 ? conv_to_wide(st, &cells[k]) : conv_to_ansi(st, &cells[k]))) {
            if (!st->err) st->err = 3056;
            return;
        }
        if constexpr (sizeof(C) == 1) units += strlen(cell_str(st, &cells[k]));
        else units += wcslen(cell_wstr(st, &cells[k]));
    }
    C* out = result_alloc<C>(st, result, units);
    if (!out) return;
    for (int k = 0; k < n; ++k) {
        const C* s;
        size_t len;
        if constexpr (sizeof(C) == 1) len = strlen(s = cell_str(st, &cells[k]));
        else len = wcslen(s = cell_wstr(st, &cells[k]));
        memcpy(out, s, len * sizeof(C));
        out += len;
    }
}

void join_any(State* st, Cell* result, Cell* cells, int n) {
    bool wide = false;
    for (int k = 0; k < n && !wide; ++k) wide = holds_wide(cells[k]);
    both_forms(wide, [&](auto unit) { join<decltype(unit)>(st, result, cells, n); });
}

bool is_token(const State* st, uint32_t code) { return st->delimType == TK_KEYWORD && st->tok == code; }

bool next_token(State* st) {
    if (get_token(st)) return true;
    if (!st->err) st->err = 3054;
    return false;
}

// The argument cells evaluated so far, released on every path.
class ArgArea {
public:
    explicit ArgArea(State* st) : st_(st) {}
    ~ArgArea() {
        for (int k = 0; k < n; ++k) cell_release(st_, &cells[k], CM_VARBOUND);
    }
    ArgArea(const ArgArea&) = delete;
    ArgArea& operator=(const ArgArea&) = delete;
    bool alloc() {
        if (!buf_.alloc(st_, sizeof(Cell) * kMaxArgs)) return false;
        cells = buf_.get<Cell>();
        return true;
    }
    Cell* cells = nullptr;
    int   n = 0;
private:
    State*     st_;
    WorkBuffer buf_;
};

}  // namespace

// Called with "(" current; leaves ")" current. A token other than "," or ")"
// after an argument (an empty list included) is 2058; a 1025th argument is
// 3066.
bool strcat_parse(State* st, Cell* result) {
    ArgArea args(st);
    if (!args.alloc() || !next_token(st)) return false;
    if (is_token(st, KW_OP_RPAREN)) return st->err = 2058, false;
    for (;;) {
        if (args.n == kMaxArgs) {
            st->err = 3066;
            err_detail(st, "StrCat takes at most 1024 arguments");
            return false;
        }
        if (!ProcessSubExpression(st, &args.cells[args.n], 0, 0, 0)) return false;
        ++args.n;
        if (is_token(st, KW_OP_RPAREN)) break;
        if (!is_token(st, KW_OP_COMMA)) return st->err = 2058, false;
        if (!next_token(st)) return false;
    }
    join_any(st, result, args.cells, args.n);
    return st->err == 0;
}

// The same join for arguments that reached the dispatcher already evaluated.
void fn_strcat(State* st, int nargs, Cell* result, Cell* args, bool) { join_any(st, result, args + 1, nargs); }
