// ArraySort(a [, options, column, start, end]): rows start to end of an
// array of one or two dimensions, ordered by the element in `column`, with a
// heap sort (not stable: rows with equal keys may change their order).
//
// The heap sort orders a list of row numbers; the rows themselves move once,
// at the end, so an error met by a comparison (1640, an element without a
// value) leaves the array as it was.
#include "library/items/arrcompare.h"

namespace items {
namespace {

// Sorts perm[0..n) by less(x, y) (row numbers); false when less failed.
template <class Less>
bool heap_sort(std::vector<uint32_t>& perm, Less less) {
    const size_t n = perm.size();
    bool ok = true;
    auto sift = [&](size_t i, size_t end) {
        for (size_t child; ok && (child = 2 * i + 1) < end; i = child) {
            if (child + 1 < end && less(perm[child], perm[child + 1], &ok)) ++child;
            if (!ok || !less(perm[i], perm[child], &ok)) return;
            std::swap(perm[i], perm[child]);
        }
    };
    for (size_t i = n / 2; i-- > 0 && ok;) sift(i, n);
    for (size_t end = n; end-- > 1 && ok;) {
        std::swap(perm[0], perm[end]);
        sift(0, end);
    }
    return ok;
}

}  // namespace

void fn_arraysort(State* st, int nargs, Cell* result, Cell* args, bool) {
    ArrayHdr* a = plain_array(st, args[1]);
    Grid g;
    if (!a || !grid_of(st, a, &g)) return;
    const int32_t options = nargs >= 2 ? args[2].i : 0;
    if (options & ~(OPT_DESCENDING | OPT_LOGICAL | OPT_STRING)) return void(st->err = 1832);
    const int32_t column = nargs >= 3 ? std::max(args[3].i, 0) : 0;
    if (static_cast<uint32_t>(column) >= g.cols) return void(st->err = 1830);
    int64_t start = nargs >= 4 ? args[4].i : 0, end = nargs >= 5 ? args[5].i : -1;
    if (start < 0) start = 0;
    if (end < 0) end = int64_t{g.rows} - 1;
    if (start >= g.rows || end >= g.rows || start > end) return void(st->err = 1831);
    Comparer cmp;
    if (!cmp.init(st, options)) return;
    const int sign = (options & OPT_DESCENDING) ? -1 : 1;

    const uint32_t first = static_cast<uint32_t>(start), n = static_cast<uint32_t>(end - start + 1);
    std::vector<uint32_t> perm;
    std::vector<std::wstring> keys;
    try {
        perm.resize(n);
        if (cmp.by_text() && n > 1) keys.resize(n);
    } catch (const std::bad_alloc&) {
        return void(st->err = 1588);
    }
    for (uint32_t i = 0; i < n; ++i) {
        perm[i] = i;
        const Cell* e = g.at(first + i, column);
        if (keys.empty()) continue;
        if (!has_value(e)) return void(st->err = 1640);
        if (!cmp.key(e, &keys[i])) return;
    }
    auto less = [&](uint32_t x, uint32_t y, bool* ok) {
        if (!keys.empty()) return sign * cmp.compare(keys[x], keys[y]) < 0;
        const Cell *ex = g.at(first + x, column), *ey = g.at(first + y, column);
        if (!has_value(ex) || !has_value(ey)) {
            st->err = 1640;
            return *ok = false;
        }
        int c;
        if (!cmp.compare(ex, ey, &c)) return *ok = false;
        return sign * c < 0;
    };
    if (!heap_sort(perm, less)) return;

    // The rows move into their new places through a copy of the range.
    const size_t rowBytes = size_t{g.cols} * ELEMENT_SIZE;
    std::vector<uint8_t> copy;
    try {
        copy.assign(reinterpret_cast<uint8_t*>(g.at(first, 0)), reinterpret_cast<uint8_t*>(g.at(first, 0)) + n * rowBytes);
    } catch (const std::bad_alloc&) {
        return void(st->err = 1588);
    }
    for (uint32_t k = 0; k < n; ++k) memcpy(g.at(first + k, 0), copy.data() + perm[k] * rowBytes, rowBytes);
    cell_set_int(st, result, 1);
}

}  // namespace items
