// Addressing variables for the evaluator: array subscripts after "[",
// variables and elements named by a VarRef (possibly in another scope, through
// a variable pointer), and the pointer text made by the "&" operator.
//
// A VarRef holds a name and subscripts rather than addresses, so an assignment
// whose right-hand side changes the array (or drops the variable) is resolved
// again when the value is stored and never writes through a stale pointer.
#include "eval.h"
#include "value.h"
#include "tokenizer.h"
#include "keywords.h"
#include "library/items/maptable.h"
#include <cstring>

namespace {

inline bool is_kw(const State* st, uint32_t code) { return st->delimType == TK_KEYWORD && st->tok == code; }

// Makes the variable table of another scope level current for the lifetime of
// the object (the pointed-to variable of a pointer may live in a caller's
// scope). The current scope's fields are saved and restored.
class ScopeVisit {
public:
    explicit ScopeVisit(State* st) : st_(st) {}
    ~ScopeVisit() { leave(); }
    ScopeVisit(const ScopeVisit&) = delete;
    ScopeVisit& operator=(const ScopeVisit&) = delete;

    // False with 3815 when the scope's table cannot be reached.
    bool enter(uint16_t level) {
        if (level == st_->level) return true;
        const ScopeFrame& f = st_->frames[level];
        if (level > st_->level || !f.table) {
            st_->err = 3815;
            return false;
        }
        VarSlot* vars = static_cast<VarSlot*>(GlobalLock(f.table));
        if (!vars) {
            st_->err = 3815;
            return false;
        }
        vars_ = st_->vars;
        table_ = st_->varTable;
        slots_ = st_->varSlots;
        used_ = st_->varUsed;
        level_ = st_->level;
        serial_ = st_->curSerial;
        tick_ = st_->curTick;
        st_->vars = vars;
        st_->varTable = f.table;
        st_->varSlots = f.slots;
        st_->varUsed = f.used;
        st_->level = level;
        st_->curSerial = f.serial;
        st_->curTick = f.tick;
        visiting_ = true;
        return true;
    }

    // Returns to the saved scope; 3816 when its table cannot be unlocked.
    bool leave() {
        if (!visiting_) return true;
        visiting_ = false;
        ScopeFrame& f = st_->frames[st_->level];
        f.used = st_->varUsed;   // a variable may have been created there
        SetLastError(NO_ERROR);
        bool ok = GlobalUnlock(st_->varTable) || GetLastError() == NO_ERROR;
        st_->vars = vars_;
        st_->varTable = table_;
        st_->varSlots = slots_;
        st_->varUsed = used_;
        st_->level = level_;
        st_->curSerial = serial_;
        st_->curTick = tick_;
        if (!ok && !st_->err) st_->err = 3816;
        return ok;
    }

private:
    State* st_;
    bool visiting_ = false;
    VarSlot* vars_ = nullptr;
    HGLOBAL table_ = nullptr;
    uint16_t slots_ = 0, used_ = 0, level_ = 0;
    uint32_t serial_ = 0, tick_ = 0;
};

// The element a VarRef addresses inside `arr`, or nullptr with the error set.
// With `add`, a map key the map does not hold is added (its value cell empty).
Cell* element_of(State* st, ArrayHdr* arr, const VarRef* ref, bool add = false) {
    if (((arr->flags & ARR_MAP) != 0) != ref->mapKey) {
        st->err = 1637;   // the variable changed between a map and an array
        return nullptr;
    }
    if (ref->mapKey) {
        Cell* v = add ? items::map_insert(st, arr, ref->key.data(), ref->key.size())
                      : items::map_find(st, arr, ref->key.data(), ref->key.size());
        if (!v && !st->err) st->err = 1636;   // no such key
        return v;
    }
    uint32_t flat;
    if (int e = arr_flat_index(arr, ref->subs, ref->nsubs, &flat)) {
        st->err = static_cast<uint16_t>(e);
        return nullptr;
    }
    return arr_elem(arr, flat);
}

// Copies an element (56 bytes) into a fresh bare cell with its own strings.
bool element_value(State* st, const Cell* elem, Cell* out) {
    if (elem->type == 0) {
        st->err = 1640;
        cell_init(out, 0);
        return false;
    }
    return cell_copy(st, out, elem, CM_BARE | CC_DUPSTRINGS | CC_VARIANT | CC_ADDREF);
}

// The array a variable of the current scope holds, or nullptr with 1637.
ArrayHdr* array_of_slot(State* st, uint16_t slot) {
    VarSlot* s = var_slot(st, slot);
    Cell* c = s ? slot_cell(s) : nullptr;
    if (!c || !(c->type & TW_ARRAY) || !c->arr) {
        st->err = 1637;
        return nullptr;
    }
    return c->arr;
}

}  // namespace

bool parse_subscripts(State* st, const ArrayHdr* arr, VarRef* ref) {
    ref->nsubs = 0;
    ref->mapKey = false;
    const bool map = arr && (arr->flags & ARR_MAP);
    for (;;) {
        if (!get_token(st)) return false;
        Cell s;
        if (!ProcessSubExpression(st, &s, 0, 0, 0)) return false;
        if (map) {
            // A map is keyed by one string.
            bool ok = !ref->mapKey && conv_to_ansi(st, &s);
            if (ok) ref->key.assign(cell_str(st, &s));
            cell_release(st, &s, CM_VARBOUND);
            if (!ok) {
                if (!st->err) st->err = ref->mapKey ? 1635 : 3056;
                return false;
            }
            ref->mapKey = true;
        } else {
            bool ok = conv_to_int(st, &s, true, true);
            int64_t v = (s.type & TW_INT64) ? s.i64 : s.i;
            cell_release(st, &s, CM_VARBOUND);
            if (!ok) {
                if (!st->err) st->err = 1634;
                return false;
            }
            if (ref->nsubs == 5) {
                st->err = 1635;
                return false;
            }
            ref->subs[ref->nsubs++] = v;
        }
        if (is_kw(st, KW_OP_COMMA)) continue;
        if (!is_kw(st, KW_OP_RBRACKET)) {
            st->err = 1633;
            return false;
        }
        return get_token(st) != 0;
    }
}

bool subscript_value(State* st, Cell* c) {
    if (!is_kw(st, KW_OP_LBRACKET) || !(c->type & TW_ARRAY) || !c->arr) return true;
    // `c` holds a reference to the array while the subscripts are evaluated,
    // so nothing they do can free it.
    VarRef ref;
    Cell* elem = nullptr;
    Cell out;
    bool ok = parse_subscripts(st, c->arr, &ref) && (elem = element_of(st, c->arr, &ref)) != nullptr &&
              element_value(st, elem, &out);
    cell_release(st, c, CM_VARBOUND);
    if (!ok) {
        cell_init(c, 0);
        return false;
    }
    *c = out;
    return true;
}

bool ref_fetch(State* st, const VarRef* ref, Cell* out) {
    cell_init(out, 0);
    ScopeVisit visit(st);
    if (!visit.enter(ref->level)) return false;
    int slot = find_var_hint(st, ref->name, ref->slot, 1);
    if (slot < 0) return false;
    bool ok;
    if (ref->nsubs == 0 && !ref->mapKey) {
        ok = var_read(st, static_cast<uint16_t>(slot), out);
    } else {
        ArrayHdr* arr = array_of_slot(st, static_cast<uint16_t>(slot));
        Cell* elem = arr ? element_of(st, arr, ref) : nullptr;
        ok = elem && element_value(st, elem, out);
    }
    return visit.leave() && ok;
}

bool ref_store(State* st, const VarRef* ref, const Cell* value) {
    ScopeVisit visit(st);
    if (!visit.enter(ref->level)) return false;
    bool ok;
    if (ref->nsubs == 0 && !ref->mapKey) {
        uint16_t slot = var_lookup_hint(st, ref->name, ref->slot);
        if (slot == SLOT_NONE) slot = var_create(st, ref->name, TW_UNINIT);
        ok = slot != SLOT_NONE && var_assign(st, slot, value);
    } else {
        int slot = find_var_hint(st, ref->name, ref->slot, 1);
        ArrayHdr* arr = slot >= 0 ? array_of_slot(st, static_cast<uint16_t>(slot)) : nullptr;
        ok = false;
        // Copy first, so a failure leaves the old element and storing an
        // element's own array into it never frees what is being copied.
        Cell fresh;
        if (arr && cell_copy(st, &fresh, value, CM_BARE | CC_DUPSTRINGS | CC_VARIANT | CC_ADDREF)) {
            if (Cell* elem = element_of(st, arr, ref, true)) {
                cell_release(st, elem, CM_ELEMENT);
                memcpy(elem, &fresh, ELEMENT_SIZE);
                ok = true;
            } else {
                cell_release(st, &fresh, CM_BARE);
            }
        }
    }
    return visit.leave() && ok;
}

bool ref_from_pointer(State* st, const Cell* ptr, VarRef* ref) {
    ref->nsubs = 0;
    ref->mapKey = false;
    if (!(ptr->type & TW_STRING) || (ptr->type & TW_ARRAY)) {
        st->err = 3813;
        return false;
    }
    if (int e = varptr_parse(st, cell_str(st, ptr), &ref->level, ref->name)) {
        st->err = static_cast<uint16_t>(e);
        return false;
    }
    return true;
}

bool make_pointer(State* st, const char* name, Cell* out) {
    char text[128];
    int n = varptr_format(st, st->level, name, text, sizeof text);
    if (n < 0) {
        st->err = 3818;
        return false;
    }
    return cell_set_str(st, out, text, static_cast<size_t>(n));
}
