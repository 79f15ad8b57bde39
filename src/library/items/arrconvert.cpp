// Conversions between arrays, item lists and strings (Arrayize,
// ArrayFromStr, ArrayToStr, ArrayItemize) and ArrInitialize.
//
// ArrayToStr and ArrayItemize read the elements in row order and pass over
// elements that hold no value. Their result is wide when an element (or the
// delimiter) is wide text, else ANSI.
#include "library/items/items.h"

using namespace strings;

namespace items {
namespace {

// Arrayize(list, delimiter): one element per item, in the list's form.
template <class C>
void arrayize(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    ItemList<C> l;
    if (!read_list(env, args[1], args[2], &l)) return;
    Cell out;
    if (!new_list_array(st, &out, static_cast<uint64_t>(l.count()))) return;
    uint32_t i = 0;
    bool ok = true;
    l.each([&](size_t b, size_t e) { return ok = set_element_text(st, arr_elem(out.arr, i++), l.list.p + b, e - b); });
    if (!ok) return drop_result(st, &out);
    *result = out;
}

// ArrayFromStr(s): one element per character.
template <class C>
void array_from_str(State* st, Cell* result, Cell* args) {
    Env<C> env(st);
    const Text<C> s = env.text(args[1]);
    Cell out;
    if (!new_list_array(st, &out, s.chars())) return;
    uint32_t k = 0;
    for (size_t i = 0; i < s.len; i = s.next(i))
        if (!set_element_text(st, arr_elem(out.arr, k++), s.p + i, s.width(i))) return drop_result(st, &out);
    *result = out;
}

// Whether any element of `a` holds wide text.
bool any_wide(const ArrayHdr* a) {
    for (uint32_t i = 0; i < a->count; ++i)
        if (arr_elem(const_cast<ArrayHdr*>(a), i)->type & (TW_UNICODE | TW_VARIANT)) return true;
    return false;
}

// The texts of the elements that hold a value, joined by `delim` (n units).
template <class C>
void join_elements(State* st, Cell* result, ArrayHdr* a, const C* delim, size_t n) {
    std::basic_string<C> out, text;
    bool first = true;
    try {
        for (uint32_t i = 0; i < a->count; ++i) {
            const Cell* e = arr_elem(a, i);
            if (!has_value(e)) continue;
            if (!value_text(st, e, &text)) return;
            if (!first) out.append(delim, n);
            out += text;
            first = false;
        }
    } catch (const std::bad_alloc&) {
        st->err = 1588;
        return;
    }
    result_copy<C>(st, result, out.data(), out.size());
}

}  // namespace

void fn_arrayize(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { arrayize<decltype(unit)>(st, result, args); });
}

void fn_arrayfromstr(State* st, int, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { array_from_str<decltype(unit)>(st, result, args); });
}

void fn_arraytostr(State* st, int, Cell* result, Cell* args, bool) {
    ArrayHdr* a = plain_array(st, args[1]);
    if (!a) return;
    if (any_wide(a)) join_elements<wchar_t>(st, result, a, L"", 0);
    else join_elements<char>(st, result, a, "", 0);
}

// ArrayItemize(a [, delimiter]): the elements as an item list (tab by default).
void fn_arrayitemize(State* st, int nargs, Cell* result, Cell* args, bool wide) {
    ArrayHdr* a = plain_array(st, args[1]);
    if (!a) return;
    if (wide || any_wide(a)) {
        if (nargs >= 2 && !arg_wide(st, &args[2])) return;
        Env<wchar_t> env(st);
        Delim<wchar_t> d;
        if (nargs >= 2 && !read_delim(env, args[2], &d)) return;
        join_elements<wchar_t>(st, result, a, d.unit, d.len);
    } else {
        Env<char> env(st);
        Delim<char> d;
        if (nargs >= 2 && !read_delim(env, args[2], &d)) return;
        join_elements<char>(st, result, a, d.unit, d.len);
    }
}

// ArrInitialize(a, value): every element becomes a copy of value (an
// integer, a 64-bit integer, a float or a string).
void fn_arrinitialize(State* st, int, Cell* result, Cell* args, bool) {
    if (!(args[1].type & TW_ARRAY)) return void(st->err = 1641);
    const Cell& v = args[2];
    if (!(v.type & (TW_INT | TW_INT64 | TW_FLOAT | TW_STRING | TW_UNICODE)) ||
        (v.type & (TW_ARRAY | TW_VARIANT | TW_FILEBIT | TW_BINBIT)))
        return void(st->err = 1671);
    ArrayHdr* a = args[1].arr;
    if (a && a->ndims == 0 && !(a->flags & ARR_MAP)) return void(st->err = 1710);
    if (!a || (a->flags & ARR_MAP) || !a->elements) return void(st->err = 1637);
    // The texts are copied first, so that running out of memory changes nothing.
    struct Texts {
        uint64_t str, wstr;
    };
    std::vector<Texts> copies;
    const bool text = (v.type & (TW_STRING | TW_UNICODE)) != 0;
    try {
        if (text) copies.resize(a->count);
    } catch (const std::bad_alloc&) {
        return void(st->err = 1588);
    }
    for (uint32_t i = 0; text && i < a->count; ++i) {
        Cell c;
        if (!cell_copy(st, &c, &v, CM_BARE | CC_DUPSTRINGS)) {
            for (uint32_t k = 0; k < i; ++k) {
                if (copies[k].str) VFree(st, copies[k].str);
                if (copies[k].wstr) VFree(st, copies[k].wstr);
            }
            return;
        }
        copies[i] = {(c.type & TW_STRING) ? c.str : 0, (c.type & TW_UNICODE) ? c.wstr : 0};
    }
    for (uint32_t i = 0; i < a->count; ++i) {
        Cell* e = arr_elem(a, i);
        cell_release(st, e, CM_ELEMENT);
        memset(e, 0, ELEMENT_SIZE);
        e->type = v.type;
        e->i = v.i;
        e->i64 = v.i64;
        if (text) {
            e->str = copies[i].str;
            e->wstr = copies[i].wstr;
        }
    }
    cell_set_int(st, result, 1);
}

}  // namespace items
