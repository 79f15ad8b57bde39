// ItemSort and ItemSortNc: the items in ascending order of the user locale's
// collation (StrCmp's comparison; ItemSortNc StrICmp's, ties broken by
// StrCmp's). Items that still compare equal keep their order of appearance,
// so a stable sort gives what a selection of the smallest remaining item,
// first one winning, gives, in n log n comparisons instead of n squared.
// Empty items come first: the result starts with one delimiter per empty
// item, followed by the other items joined by the delimiter.
#include "library/items/items.h"
#include <algorithm>

using namespace strings;

namespace items {
namespace {

template <class C>
void item_sort(State* st, Cell* result, Cell* args, bool nocase) {
    Env<C> env(st);
    ItemList<C> l;
    if (!read_list(env, args[1], args[2], &l)) return;
    // A copy of the list with every item terminated, for the comparison.
    std::basic_string<C> copy(l.list.p, l.list.len);
    struct Span {
        size_t b, n;
    };
    std::vector<Span> items;
    size_t empties = 0;
    try {
        l.each([&](size_t b, size_t e) {
            if (e == b) ++empties;
            else items.push_back({b, e - b});
            if (e < copy.size()) std::fill_n(copy.begin() + e, l.d.len, C(0));
            return true;
        });
    } catch (const std::bad_alloc&) {
        st->err = 1588;
        return;
    }
    const C* text = copy.c_str();
    auto less = [&](const Span& x, const Span& y) {
        int c = locale_compare(st, text + x.b, text + y.b, nocase);
        if (c == 0 && nocase) c = locale_compare(st, text + x.b, text + y.b, false);
        return c < 0;
    };
    std::stable_sort(items.begin(), items.end(), less);
    if (st->err) return;

    uint64_t units = empties * l.d.len;
    for (const Span& s : items) units += s.n;
    if (!items.empty()) units += (items.size() - 1) * l.d.len;
    C* out = result_alloc<C>(st, result, units);
    if (!out) return;
    for (size_t k = 0; k < empties; ++k, out += l.d.len) memcpy(out, l.d.unit, l.d.len * sizeof(C));
    for (size_t k = 0; k < items.size(); ++k) {
        if (k) {
            memcpy(out, l.d.unit, l.d.len * sizeof(C));
            out += l.d.len;
        }
        memcpy(out, l.list.p + items[k].b, items[k].n * sizeof(C));
        out += items[k].n;
    }
}

}  // namespace

void fn_itemsort(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { item_sort<decltype(unit)>(st, result, args, false); });
}

void fn_itemsortnc(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { item_sort<decltype(unit)>(st, result, args, true); });
}

}  // namespace items
