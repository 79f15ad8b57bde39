// ArraySearch (rows of one column, linear or binary) and ArrayLocate (every
// element of an array of any shape).
#include "library/items/arrcompare.h"
#include "keyword_ids.h"

namespace items {
namespace {

// Equality by the evaluator's == (numbers as numbers, floats as the
// Decimals setting shows them). Values that cannot be compared (arrays,
// objects) are not equal.
bool value_equal(State* st, const Cell* elem, Cell* value, bool nocase) {
    Cell left;
    cell_init(&left, 0);
    memcpy(&left, elem, ELEMENT_SIZE);   // shared: compare_cells only reads it
    const uint16_t saved = st->err;
    const bool ok = compare_cells(st, KW_OP_EQ, &left, value, false, nocase);
    if (!ok) st->err = saved;
    return ok && left.i == 1;
}

}  // namespace

// ArraySearch(a, value [, options, column, start, end]): the first row of
// rows start to end whose element in `column` equals value, or -1. With
// @SORTED the rows must be in ascending order and are searched by halves
// (the first of several equal rows is found). Option 2 ignores case; it does
// not go with @STRINGSORT.
void fn_arraysearch(State* st, int nargs, Cell* result, Cell* args, bool) {
    ArrayHdr* a = plain_array(st, args[1]);
    Grid g;
    if (!a || !grid_of(st, a, &g)) return;
    const int32_t options = nargs >= 3 ? args[3].i : 0;
    if ((options & ~(OPT_SORTED | OPT_NOCASE | OPT_LOGICAL | OPT_STRING)) ||
        ((options & OPT_NOCASE) && (options & OPT_STRING)))
        return void(st->err = 1836);
    const int32_t column = nargs >= 4 ? std::max(args[4].i, 0) : 0;
    if (static_cast<uint32_t>(column) >= g.cols) return void(st->err = 1834);
    int64_t start = nargs >= 5 ? args[5].i : 0, end = nargs >= 6 ? args[6].i : -1;
    if (start < 0) start = 0;
    if (end < 0) end = int64_t{g.rows} - 1;
    if (start >= g.rows || end >= g.rows || start > end) return void(st->err = 1835);
    Comparer cmp;
    if (!cmp.init(st, options)) return;
    Cell* value = &args[2];
    std::wstring valueKey, key;
    if (cmp.by_text() && !cmp.key(value, &valueKey)) return;

    // -1, 0, 1 of a row's element against the value; a row without a value
    // comes before any value.
    auto order = [&](int64_t row, int* c) {
        const Cell* e = g.at(static_cast<uint32_t>(row), column);
        if (!has_value(e)) return *c = -1, true;
        if (cmp.by_text()) return cmp.key(e, &key) && ((*c = cmp.compare(key, valueKey)), true);
        const uint16_t saved = st->err;
        if (!cmp.compare(e, value, c)) st->err = saved, *c = -1;
        return true;
    };
    int64_t found = -1;
    if (options & OPT_SORTED) {
        int64_t lo = start, hi = end + 1;
        int c;
        while (lo < hi) {
            const int64_t mid = lo + (hi - lo) / 2;
            if (!order(mid, &c)) return;
            if (c < 0) lo = mid + 1;
            else hi = mid;
        }
        if (lo <= end) {
            if (!order(lo, &c)) return;
            if (c == 0) found = lo;
        }
    } else {
        for (int64_t r = start; r <= end && found < 0; ++r) {
            const Cell* e = g.at(static_cast<uint32_t>(r), column);
            if (!has_value(e)) continue;
            if (cmp.by_text()) {
                if (!cmp.key(e, &key)) return;
                if (cmp.compare(key, valueKey) == 0) found = r;
            } else if (value_equal(st, e, value, options & OPT_NOCASE)) {
                found = r;
            }
        }
    }
    cell_set_int(st, result, static_cast<int32_t>(found));
}

// ArrayLocate(a, value [, s1 ... s5]): the first element, in row order from
// the element at s1..s5 (the first element by default), equal to value by
// the evaluator's ==. The result is its subscript for a one-dimensional
// array, its subscripts joined by commas ("2,1") for more dimensions, and
// -1 when no element matches.
void fn_arraylocate(State* st, int nargs, Cell* result, Cell* args, bool) {
    ArrayHdr* a = plain_array(st, args[1]);
    if (!a) return;
    uint64_t from = 0;
    for (int k = 0; k < a->ndims; ++k) {
        const int32_t s = k + 3 <= nargs ? args[k + 3].i : 0;
        if (s < 0 || static_cast<uint32_t>(s) >= a->dims[k]) return void(st->err = 1833);
        from = from * a->dims[k] + static_cast<uint32_t>(s);
    }
    for (uint64_t i = from; i < a->count; ++i) {
        const Cell* e = arr_elem(a, static_cast<uint32_t>(i));
        if (!has_value(e) || !value_equal(st, e, &args[2], false)) continue;
        if (a->ndims == 1) return void(cell_set_int(st, result, static_cast<int32_t>(i)));
        uint32_t s[5];
        uint64_t rest = i;
        for (int k = a->ndims - 1; k >= 0; --k) {
            s[k] = static_cast<uint32_t>(rest % a->dims[k]);
            rest /= a->dims[k];
        }
        std::string text;
        for (int k = 0; k < a->ndims; ++k) text += (k ? "," : "") + std::to_string(s[k]);
        cell_set_str(st, result, text.data(), text.size());
        return;
    }
    cell_set_int(st, result, -1);
}

}  // namespace items
