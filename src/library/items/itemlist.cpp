// ItemCount, ItemExtract, ItemInsert, ItemRemove, ItemReplace, ItemLocate and
// ItemLocateWild: one pass over the list, results sized before they are built.
#include "library/items/items.h"
#include "library/strings/wildcard.h"

using namespace strings;

namespace items {
namespace {

// Index -1 names the last item.
template <class C>
int64_t resolve_index(const ItemList<C>& l, int32_t index) {
    return index == -1 ? l.count() : index;
}

// Builds a result from up to three pieces of text.
template <class C>
struct Piece {
    const C* p;
    size_t   n;
};
template <class C>
bool result_join(State* st, Cell* result, std::initializer_list<Piece<C>> parts) {
    uint64_t total = 0;
    for (const Piece<C>& x : parts) total += x.n;
    C* out = result_alloc<C>(st, result, total);
    if (!out) return false;
    for (const Piece<C>& x : parts) {
        if (x.n) memcpy(out, x.p, x.n * sizeof(C));
        out += x.n;
    }
    return true;
}

template <class C>
void item_count(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    ItemList<C> l;
    if (!read_list(env, args[1], args[2], &l)) return;
    cell_set_int(st, result, static_cast<int32_t>(l.count()));
}

// The terminated text of a string argument in the call's form.
template <class C>
const C* raw_text(State* st, const Cell& c) {
    if constexpr (sizeof(C) == 1) return cell_str(st, &c);
    else return cell_wstr(st, &c);
}

template <class C>
void item_extract(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    const int32_t index = args[1].i;
    if (index > 0 && (sizeof(C) == 2 || !env.r.lead)) {
        // One code unit per character: the item is found in one scan that
        // stops at it, without measuring the whole list first.
        Delim<C> d;
        if (!read_delim(env, args[3], &d)) return;
        if (d.len == 1) {
            const C *start = raw_text<C>(st, args[2]), *end = nullptr;
            if (index > 1) {
                const C* hit = text_nth_z(start, d.unit[0], static_cast<size_t>(index - 1), &end);
                if (!hit) return void(result_empty<C>(st, result));
                start = hit + 1;
            }
            const C* stop = text_nth_z(start, d.unit[0], 1, &end);
            return void(result_copy<C>(st, result, start, static_cast<size_t>((stop ? stop : end) - start)));
        }
    }
    ItemList<C> l;
    if (!read_list(env, args[2], args[3], &l)) return;
    size_t b, e;
    if (!l.item(resolve_index(l, args[1].i), &b, &e)) return void(result_empty<C>(st, result));
    result_copy<C>(st, result, l.list.p + b, e - b);
}

// Item `index` goes in after item `index` (0: first; -1 or beyond the last
// item: at the end). A negative index other than -1 leaves the list as it is.
template <class C>
void item_insert(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    ItemList<C> l;
    if (!read_list(env, args[3], args[4], &l)) return;
    const Text<C> item = env.text(args[1]);
    const int32_t index = args[2].i;
    const Text<C>& s = l.list;
    const Piece<C> d{l.d.unit, l.d.len}, x{item.p, item.len};
    if (s.empty()) return void(result_copy<C>(st, result, item.p, item.len));
    if (index < -1) return void(result_copy<C>(st, result, s.p, s.len));
    if (index == 0) return void(result_join<C>(st, result, {x, d, {s.p, s.len}}));
    size_t b, e;
    if (index == -1 || !l.item(index, &b, &e) || e == s.len)
        return void(result_join<C>(st, result, {{s.p, s.len}, d, x}));
    result_join<C>(st, result, {{s.p, e}, d, x, {s.p + e, s.len - e}});
}

template <class C>
void item_remove(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    ItemList<C> l;
    if (!read_list(env, args[2], args[3], &l)) return;
    const Text<C>& s = l.list;
    size_t b, e;
    if (!l.item(resolve_index(l, args[1].i), &b, &e)) return void(result_copy<C>(st, result, s.p, s.len));
    if (e < s.len) e += l.d.len;        // the delimiter after the item goes with it,
    else if (b > 0) b -= l.d.len;       // or, for the last item, the one before it
    result_join<C>(st, result, {{s.p, b}, {s.p + e, s.len - e}});
}

template <class C>
void item_replace(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    ItemList<C> l;
    if (!read_list(env, args[3], args[4], &l)) return;
    const Text<C> item = env.text(args[1]);
    const Text<C>& s = l.list;
    size_t b, e;
    if (!l.item(resolve_index(l, args[2].i), &b, &e)) return void(result_copy<C>(st, result, s.p, s.len));
    result_join<C>(st, result, {{s.p, b}, {item.p, item.len}, {s.p + e, s.len - e}});
}

template <class C>
void item_locate(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    ItemList<C> l;
    if (!read_list(env, args[2], args[3], &l)) return;
    const Text<C> item = env.text(args[1]);
    int32_t n = 0, found = 0;
    l.each([&](size_t b, size_t e) {
        ++n;
        if (e - b == item.len && (item.len == 0 || memcmp(l.list.p + b, item.p, item.len * sizeof(C)) == 0))
            found = n;
        return found == 0;
    });
    cell_set_int(st, result, found);
}

// Whether the pattern covers the whole item.
bool covers(State* st, const Env<char>& env, const Text<char>& item, const Text<char>& pat) {
    return wild_match(item.p, item.len, pat.p, pat.len, env.r.lead, env.r.upper) == item.chars();
}
bool covers(State*, const Env<wchar_t>&, const Text<wchar_t>& item, const Text<wchar_t>& pat) {
    return wild_match(item.p, item.len, pat.p, pat.len) == item.len;
}

template <class C>
void item_locate_wild(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    ItemList<C> l;
    if (!read_list(env, args[2], args[3], &l)) return;
    const Text<C> pat = env.text(args[1]);
    const int32_t start = args[4].i;
    // An empty item is covered only by an empty pattern or by stars alone.
    bool starsOnly = true;
    for (size_t i = 0; i < pat.len; ++i) starsOnly = starsOnly && pat.p[i] == C('*');
    int32_t n = 0, found = 0;
    if (start >= 1) {
        l.each([&](size_t b, size_t e) {
            if (++n < start) return true;
            const Text<C> item = env.text(l.list.p + b, e - b);
            if (item.empty() ? starsOnly : covers(st, env, item, pat)) found = n;
            return found == 0;
        });
    }
    cell_set_int(st, result, found);
}

}  // namespace

#define BOTH_FORMS(name, impl)                                                  \
    void fn_##name(State* st, int, Cell* result, Cell* args, bool wide) {      \
        both_forms(wide, [&](auto unit) { impl<decltype(unit)>(st, result, args); }); \
    }
BOTH_FORMS(itemcount, item_count)
BOTH_FORMS(itemextract, item_extract)
BOTH_FORMS(iteminsert, item_insert)
BOTH_FORMS(itemremove, item_remove)
BOTH_FORMS(itemreplace, item_replace)
BOTH_FORMS(itemlocate, item_locate)
BOTH_FORMS(itemlocatewild, item_locate_wild)
#undef BOTH_FORMS

}  // namespace items
