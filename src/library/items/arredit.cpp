// Changing an array's shape in place: ArrayInsert, ArrayRemove, ArrayRedim,
// ArrayReverse and ArraySwapElements. Each returns 1.
//
// The array block's header never moves (every variable holding the array
// refers to it); when the elements need more room they move to storage of
// their own (arr_storage_set). A one-dimensional array keeps spare room, so
// inserting into it repeatedly does not move it every time. Dimensions are
// numbered from 1, subscripts from 0. Elements keep their subscripts except
// along the dimension that changes.
#include "library/items/items.h"

namespace items {
namespace {

constexpr uint64_t kMaxDim = 0x7FFFFFFF;

uint32_t cells_room(const ArrayHdr* a) {
    return std::min<uint32_t>(a->capacity, a->storage / ELEMENT_SIZE);
}

void subs_of(uint64_t i, const uint32_t* dims, int n, uint32_t* s) {
    for (int k = n - 1; k >= 0; --k) {
        s[k] = static_cast<uint32_t>(i % dims[k]);
        i /= dims[k];
    }
}

uint64_t flat_of(const uint32_t* s, const uint32_t* dims, int n) {
    uint64_t i = 0;
    for (int k = 0; k < n; ++k) i = i * dims[k] + s[k];
    return i;
}

int dims_used(const uint32_t* dims) {
    int n = 0;
    for (int k = 0; k < 5; ++k)
        if (dims[k]) n = k + 1;
    return n;
}

// Gives the array the sizes `nd` and moves each element to the subscripts
// where(s, t) chooses (where returns false for an element that goes: it is
// released). The other elements are new and empty.
template <class F>
bool reshape(State* st, ArrayHdr* a, const uint32_t nd[5], F where) {
    const int n = dims_used(nd);
    double total = n ? 1 : 0;
    for (int k = 0; k < n; ++k) total *= nd[k];
    if ((total + 1) * ELEMENT_SIZE > 4000000000.0) return st->err = 1644, false;
    const uint64_t count = static_cast<uint64_t>(total);
    uint32_t s[5] = {}, t[5] = {};
    if (count == 0) {   // nothing is left: the array becomes empty
        for (uint32_t i = 0; i < a->count; ++i) {
            cell_release(st, arr_elem(a, i), CM_ELEMENT);
            memset(arr_elem(a, i), 0, ELEMENT_SIZE);
        }
    } else {
        uint64_t capacity = count;
        if (n == 1) capacity = std::min<uint64_t>(count + count / 2 + 16, 4000000000ull / ELEMENT_SIZE - 2);
        capacity = std::max(capacity, count);
        uint8_t* cells = arr_storage_alloc(st, capacity);
        if (!cells) return false;
        for (uint32_t i = 0; i < a->count; ++i) {
            Cell* e = arr_elem(a, i);
            subs_of(i, a->dims, a->ndims, s);
            if (where(s, t)) memcpy(cells + flat_of(t, nd, n) * ELEMENT_SIZE, e, ELEMENT_SIZE);
            else cell_release(st, e, CM_ELEMENT);
        }
        arr_storage_set(a, cells, static_cast<uint32_t>(capacity));
    }
    for (int k = 0; k < 5; ++k) a->dims[k] = nd[k];
    a->ndims = static_cast<uint8_t>(n);
    a->count = static_cast<uint32_t>(count);
    if (n == 1 && cells_room(a) > a->count) a->flags |= ARR_GROWABLE;
    else a->flags &= static_cast<uint8_t>(~ARR_GROWABLE);
    return true;
}

// A dimension argument (1-based, default 1) that must name one of the
// array's dimensions (1853); an empty array accepts dimension 1 when `grow`.
bool dimension_arg(State* st, const ArrayHdr* a, int nargs, int argNo, Cell* args, bool grow, int* d) {
    *d = nargs >= argNo ? args[argNo].i : 1;
    const int have = std::max<int>(a->ndims, grow ? 1 : 0);
    if (*d < 1 || *d > have) return st->err = 1853, false;
    --*d;
    return true;
}

void done(State* st, Cell* result) { cell_set_int(st, result, 1); }

}  // namespace

// ArrayInsert(a, subscript [, dimension [, value]]): a new element (a new
// row, column, ...) at `subscript` of the dimension; `subscript` may be the
// dimension's size, which appends. The new elements get copies of value, or
// no value.
void fn_arrayinsert(State* st, int nargs, Cell* result, Cell* args, bool) {
    ArrayHdr* a = plain_array(st, args[1]);
    int d;
    if (!a || !dimension_arg(st, a, nargs, 3, args, true, &d)) return;
    const int64_t at = args[2].i;
    if (at < 0 || at > a->dims[d]) return void(st->err = 1833);
    if (a->dims[d] + uint64_t{1} > kMaxDim) return void(st->err = 1804);
    uint32_t nd[5];
    for (int k = 0; k < 5; ++k) nd[k] = a->dims[k];
    nd[d] += 1;
    const uint32_t pos = static_cast<uint32_t>(at);
    // The values of the new elements are made first: a failure changes nothing.
    uint64_t fresh = 1;
    for (int k = 0; k < std::max<int>(a->ndims, 1); ++k)
        if (k != d) fresh *= nd[k];
    std::vector<Cell> values;
    if (nargs >= 4) {
        try {
            values.resize(fresh);
        } catch (const std::bad_alloc&) {
            return void(st->err = 1588);
        }
        for (uint64_t i = 0; i < fresh; ++i) {
            if (!cell_copy(st, &values[i], &args[4], CM_BARE | CC_DUPSTRINGS | CC_VARIANT | CC_ADDREF)) {
                for (uint64_t k = 0; k < i; ++k) cell_release(st, &values[k], CM_BARE);
                return;
            }
        }
    }
    if (a->ndims == 1 && cells_room(a) > a->count) {
        // In place: the elements from `pos` on move up one cell.
        memmove(arr_elem(a, pos + 1), arr_elem(a, pos), size_t{a->count - pos} * ELEMENT_SIZE);
        memset(arr_elem(a, pos), 0, ELEMENT_SIZE);
        if (!values.empty()) memcpy(arr_elem(a, pos), &values[0], ELEMENT_SIZE);
        a->dims[0] = ++a->count;
        return done(st, result);
    }
    const bool ok = reshape(st, a, nd, [&](const uint32_t* s, uint32_t* t) {
        for (int k = 0; k < 5; ++k) t[k] = s[k];
        if (s[d] >= pos) ++t[d];
        return true;
    });
    if (!ok) {
        for (Cell& c : values) cell_release(st, &c, CM_BARE);
        return;
    }
    if (!values.empty()) {
        uint32_t s[5];
        size_t next = 0;
        for (uint32_t i = 0; i < a->count; ++i) {
            subs_of(i, a->dims, a->ndims, s);
            if (s[d] == pos) memcpy(arr_elem(a, i), &values[next++], ELEMENT_SIZE);
        }
    }
    done(st, result);
}

// ArrayRemove(a, subscript [, dimension]): removes the element (row,
// column, ...) at `subscript`; the last one removed leaves an empty array.
void fn_arrayremove(State* st, int nargs, Cell* result, Cell* args, bool) {
    ArrayHdr* a = plain_array(st, args[1]);
    int d;
    if (!a || !dimension_arg(st, a, nargs, 3, args, false, &d)) return;
    const int64_t at = args[2].i;
    if (at < 0 || at >= a->dims[d]) return void(st->err = 1833);
    uint32_t nd[5];
    for (int k = 0; k < 5; ++k) nd[k] = a->dims[k];
    if (--nd[d] == 0) {
        for (uint32_t& x : nd) x = 0;
    }
    const uint32_t pos = static_cast<uint32_t>(at);
    if (a->ndims == 1 && nd[0]) {
        // In place: the elements after it move down one cell.
        cell_release(st, arr_elem(a, pos), CM_ELEMENT);
        memmove(arr_elem(a, pos), arr_elem(a, pos + 1), size_t{a->count - pos - 1} * ELEMENT_SIZE);
        memset(arr_elem(a, a->count - 1), 0, ELEMENT_SIZE);
        a->dims[0] = --a->count;
        a->flags |= ARR_GROWABLE;
        return done(st, result);
    }
    if (!reshape(st, a, nd, [&](const uint32_t* s, uint32_t* t) {
            for (int k = 0; k < 5; ++k) t[k] = s[k];
            if (s[d] == pos) return false;
            if (s[d] > pos) --t[d];
            return true;
        }))
        return;
    done(st, result);
}

// ArrayRedim(a, d1 [, d2 ... d5]): new sizes; -1 keeps a dimension's size.
// Elements whose subscripts fit the new sizes keep them (a dimension that
// is added or taken away counts as subscript 0); the others are released.
void fn_arrayredim(State* st, int nargs, Cell* result, Cell* args, bool) {
    ArrayHdr* a = plain_array(st, args[1]);
    if (!a) return;
    uint32_t nd[5] = {};
    for (int k = 0; k < 5 && k + 2 <= nargs; ++k) {
        const int32_t v = args[k + 2].i;
        if (v < -1) return void(st->err = 1628);
        nd[k] = v == -1 ? a->dims[k] : static_cast<uint32_t>(v);
    }
    if (nd[0] == 0) return void(st->err = 1629);
    for (int k = 1; k < 5; ++k)
        if (nd[k] && !nd[k - 1]) return void(st->err = 1630);
    const int n = dims_used(nd);
    if (!reshape(st, a, nd, [&](const uint32_t* s, uint32_t* t) {
            for (int k = 0; k < 5; ++k) {
                const uint32_t x = k < a->ndims ? s[k] : 0;
                if (k < n ? x >= nd[k] : x != 0) return false;
                t[k] = x;
            }
            return true;
        }))
        return;
    done(st, result);
}

// ArrayReverse(a [, dimension]): the order along one dimension reversed.
void fn_arrayreverse(State* st, int nargs, Cell* result, Cell* args, bool) {
    ArrayHdr* a = plain_array(st, args[1]);
    int d;
    if (!a || !dimension_arg(st, a, nargs, 2, args, false, &d)) return;
    uint32_t s[5];
    for (uint32_t i = 0; i < a->count; ++i) {
        subs_of(i, a->dims, a->ndims, s);
        if (s[d] >= a->dims[d] / 2) continue;
        s[d] = a->dims[d] - 1 - s[d];
        const uint64_t j = flat_of(s, a->dims, a->ndims);
        uint8_t tmp[ELEMENT_SIZE];
        memcpy(tmp, arr_elem(a, i), ELEMENT_SIZE);
        memcpy(arr_elem(a, i), arr_elem(a, static_cast<uint32_t>(j)), ELEMENT_SIZE);
        memcpy(arr_elem(a, static_cast<uint32_t>(j)), tmp, ELEMENT_SIZE);
    }
    done(st, result);
}

// ArraySwapElements(a, s1, ..., s5, t1, ..., t5): exchanges two elements;
// subscripts past the array's dimensions must be 0.
void fn_arrayswapelements(State* st, int, Cell* result, Cell* args, bool) {
    ArrayHdr* a = plain_array(st, args[1]);
    if (!a) return;
    uint64_t flat[2];
    for (int which = 0; which < 2; ++which) {
        uint32_t s[5];
        for (int k = 0; k < 5; ++k) {
            const int32_t v = args[2 + which * 5 + k].i;
            const bool ok = k < a->ndims ? v >= 0 && static_cast<uint32_t>(v) < a->dims[k] : v == 0;
            if (!ok || a->ndims == 0) return void(st->err = 1833);
            s[k] = static_cast<uint32_t>(v);
        }
        flat[which] = flat_of(s, a->dims, a->ndims);
    }
    uint8_t tmp[ELEMENT_SIZE];
    Cell* x = arr_elem(a, static_cast<uint32_t>(flat[0]));
    Cell* y = arr_elem(a, static_cast<uint32_t>(flat[1]));
    memcpy(tmp, x, ELEMENT_SIZE);
    memcpy(x, y, ELEMENT_SIZE);
    memcpy(y, tmp, ELEMENT_SIZE);
    done(st, result);
}

}  // namespace items
