// Pieces shared by the item-list, array and map functions: the delimiter of
// an item list and the scan over its items, the array arguments, element
// texts and new arrays. Private to src/library/items.
//
// Item-list members are written once over the code unit, like the string
// family: `char` for the ANSI form, `wchar_t` for the wide form (the
// dispatcher has converted the text arguments to the call's form).
#pragma once
#include "library/strings/strings.h"
#include <string>
#include <vector>

namespace items {

using strings::Env;
using strings::Text;

// ---- item lists -------------------------------------------------------------

// The delimiter of an item list: one character, one or (a double-byte
// character of the ANSI form) two code units. An empty argument stands for
// the tab character.
template <class C>
struct Delim {
    C      unit[2] = {C('\t'), C(0)};
    size_t len = 1;

    bool at(const Text<C>& t, size_t i) const {
        return t.p[i] == unit[0] && (len == 1 || (i + 1 < t.len && t.p[i + 1] == unit[1]));
    }
};

// Reads the delimiter argument; false with `err` (1705) when it holds more
// than one character.
template <class C>
bool read_delim(const Env<C>& env, const Cell& arg, Delim<C>* d, uint16_t err = 1705) {
    const Text<C> t = env.text(arg);
    if (t.empty()) return true;
    if (t.width(0) != t.len) {
        env.st->err = err;
        return false;
    }
    d->len = t.len;
    d->unit[0] = t.p[0];
    d->unit[1] = t.len > 1 ? t.p[1] : C(0);
    return true;
}

// A list and its delimiter. Items are found by stepping through whole
// characters, so the trail byte of a double-byte character never counts as
// a delimiter, and neither does a lead byte whose trail byte differs from the
// delimiter's.
template <class C>
struct ItemList {
    Text<C>  list;
    Delim<C> d;

    // Unit offset of the delimiter that ends the item starting at `from`
    // (list.len when it is the last item).
    size_t item_end(size_t from) const {
        if (!list.lead) {
            if (d.len != 1) return list.len;   // a double-byte delimiter in single-byte text
            const C* hit = text_find(list.p + from, list.len - from, d.unit[0]);
            return hit ? static_cast<size_t>(hit - list.p) : list.len;
        }
        for (size_t i = from; i < list.len; i = list.next(i))
            if (list.width(i) == d.len && d.at(list, i)) return i;
        return list.len;
    }
    // Whether delimiters can be found unit by unit (no double-byte text).
    bool plain() const { return !list.lead && d.len == 1; }
    // Number of items: 0 for the empty list, else delimiters + 1.
    int64_t count() const {
        if (list.empty()) return 0;
        if (plain()) {
            size_t n;
            text_nth(list.p, list.len, d.unit[0], 0, &n);
            return static_cast<int64_t>(n) + 1;
        }
        int64_t n = 1;
        for (size_t i = item_end(0); i < list.len; i = item_end(i + d.len)) ++n;
        return n;
    }
    // Units [*b, *e) of item k (1-based); false when there is no item k.
    bool item(int64_t k, size_t* b, size_t* e) const {
        if (k < 1 || list.empty()) return false;
        if (plain() && k > 1) {
            const C* hit = text_nth(list.p, list.len, d.unit[0], static_cast<size_t>(k - 1));
            if (!hit) return false;
            *b = static_cast<size_t>(hit - list.p) + 1;
            *e = item_end(*b);
            return true;
        }
        size_t start = 0;
        for (int64_t n = 1; n < k; ++n) {
            const size_t end = item_end(start);
            if (end >= list.len) return false;
            start = end + d.len;
        }
        *b = start;
        *e = item_end(start);
        return true;
    }
    // Calls f(begin, end) for every item, in order, until f returns false.
    template <class F>
    void each(F&& f) const {
        if (list.empty()) return;
        for (size_t start = 0;;) {
            const size_t end = item_end(start);
            if (!f(start, end) || end >= list.len) return;
            start = end + d.len;
        }
    }
};

// Reads the list and delimiter arguments of an item-list member.
template <class C>
bool read_list(const Env<C>& env, const Cell& list, const Cell& delim, ItemList<C>* out) {
    out->list = env.text(list);
    return read_delim(env, delim, &out->d);
}

// ---- arrays -------------------------------------------------------------------

// The array argument of an Array function: an array (else 1641) that is not
// a map and has element storage (else 1637). nullptr with the error set.
ArrayHdr* plain_array(State* st, const Cell& arg);
// The map argument of a Map function (1641 for anything else, 1637 when its
// storage is missing).
ArrayHdr* map_arg(State* st, const Cell& arg);

// An array of one or two dimensions seen as rows and columns (a
// one-dimensional array has one column).
struct Grid {
    ArrayHdr* a;
    uint32_t  rows, cols;
    Cell* at(uint32_t r, uint32_t c) const { return arr_elem(a, r * cols + c); }
};
// 1710 for an array without dimensions, 1805 for more than two.
bool grid_of(State* st, ArrayHdr* a, Grid* g);

// A new one-dimensional array of n elements without values, with spare
// room for growth. False with the error set.
bool new_list_array(State* st, Cell* out, uint64_t n);
// Releases a result array built in part (after a failure).
void drop_result(State* st, Cell* out);

// Stores the text of `n` units as a STRING or UNICODE element (3096).
bool set_element_text(State* st, Cell* elem, const char* p, size_t n);
bool set_element_text(State* st, Cell* elem, const wchar_t* p, size_t n);

// The text of a value (an element, a map value) in ANSI or wide form,
// numbers by the Decimals setting. False with 3056 (3820 for the wide form)
// when the value has no text (an array, an object).
bool value_text(State* st, const Cell* v, std::string* out);
bool value_text(State* st, const Cell* v, std::wstring* out);

// Whether an element or map value holds a value (elements never assigned do not).
inline bool has_value(const Cell* c) { return (c->type & TW_HASVALUE) != 0; }

}  // namespace items
