// Shared services of the item-list, array and map functions (items.h).
#include "library/items/items.h"
#include "library/items/maptable.h"

namespace items {

ArrayHdr* plain_array(State* st, const Cell& arg) {
    if (!(arg.type & TW_ARRAY)) {
        st->err = 1641;
        return nullptr;
    }
    ArrayHdr* a = arg.arr;
    if (!a || (a->flags & ARR_MAP) || (a->count && !a->elements)) {
        st->err = 1637;
        return nullptr;
    }
    return a;
}

ArrayHdr* map_arg(State* st, const Cell& arg) {
    if (!(arg.type & TW_ARRAY) || (arg.arr && !(arg.arr->flags & ARR_MAP))) {
        st->err = 1641;
        return nullptr;
    }
    if (!arg.arr || !arg.arr->elements) {
        st->err = 1637;
        return nullptr;
    }
    return arg.arr;
}

bool grid_of(State* st, ArrayHdr* a, Grid* g) {
    if (a->ndims == 0) return st->err = 1710, false;
    if (a->ndims > 2) return st->err = 1805, false;
    g->a = a;
    g->rows = a->dims[0];
    g->cols = a->ndims == 2 ? a->dims[1] : 1;
    return true;
}

bool new_list_array(State* st, Cell* out, uint64_t n) {
    cell_init(out, 0);
    if (n >= 0x80000000u) {
        st->err = 1644;
        return false;
    }
    return CreateMyArray(st, out, static_cast<uint32_t>(n), 0, 0, 0, 0, ARR_GROWABLE, 1) != 0xFFFFFFFF;
}

void drop_result(State* st, Cell* out) {
    cell_release(st, out, CM_BARE);
    cell_init(out, 0);
}

bool set_element_text(State* st, Cell* elem, const char* p, size_t n) {
    const uint64_t h = heap_strdup(st, p, n);
    if (!h) return st->err = 3096, false;
    elem->type = TW_STRING;
    elem->str = h;
    return true;
}

bool set_element_text(State* st, Cell* elem, const wchar_t* p, size_t n) {
    const uint64_t h = heap_wstrdup(st, p, n);
    if (!h) return st->err = 3096, false;
    elem->type = TW_UNICODE;
    elem->wstr = h;
    return true;
}

namespace {

// The text of a value through the evaluator's conversions, on a copy.
template <class S>
bool converted_text(State* st, const Cell* v, S* out, bool wide) {
    Cell tmp;
    if (!cell_copy(st, &tmp, v, CM_BARE | CC_DUPSTRINGS | CC_VARIANT)) return false;
    bool ok = !(tmp.type & TW_ARRAY) && (wide ? conv_to_wide(st, &tmp) : conv_to_ansi(st, &tmp));
    if (ok) {
        if constexpr (sizeof(typename S::value_type) == 1) out->assign(cell_str(st, &tmp));
        else out->assign(cell_wstr(st, &tmp));
    }
    cell_release(st, &tmp, CM_BARE);
    if (!ok && !st->err) st->err = wide ? 3820 : 3056;
    return ok;
}

constexpr uint32_t kNumbers = TW_INT | TW_INT64 | TW_FLOAT;
constexpr uint32_t kOthers = TW_STRING | TW_UNICODE | TW_ARRAY | TW_VARIANT;

}  // namespace

bool value_text(State* st, const Cell* v, std::string* out) {
    if ((v->type & TW_STRING) && !(v->type & (kOthers & ~TW_STRING))) {
        out->assign(cell_str(st, v));
        return true;
    }
    if ((v->type & kNumbers) && !(v->type & kOthers)) {
        char buf[400];
        if (!number_text(st, v, buf, sizeof buf)) return false;
        out->assign(buf);
        return true;
    }
    return converted_text(st, v, out, false);
}

bool value_text(State* st, const Cell* v, std::wstring* out) {
    if ((v->type & TW_UNICODE) && !(v->type & (kOthers & ~TW_UNICODE))) {
        out->assign(cell_wstr(st, v));
        return true;
    }
    return converted_text(st, v, out, true);
}

}  // namespace items
