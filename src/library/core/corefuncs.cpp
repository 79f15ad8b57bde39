// The small built-in functions the language cannot do without: Drop,
// DropWild, IsDefined, VarType (their arguments name variables), Decimals,
// ArrDimension and ArrInfo.
//
// The evaluator hands a name argument over as a STRING cell holding the name
// as written, lower-cased, or "*name" when the script wrote a pointer
// dereference: the variable meant is then the one whose pointer text `name` holds.
#include "dispatch.h"
#include "errors.h"
#include "eval.h"
#include "value.h"
#include "loader.h"
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// A variable named by an argument, found in whichever scope it lives in.
class NamedVar {
public:
    // Resolves the argument. False with the error set only for a "*name"
    // whose pointer is not valid; a variable that does not exist is found()
    // false.
    bool resolve(State* st, const Cell* arg) {
        const char* text = cell_str(st, arg);
        if (*text != '*') return find(st, st->level, text);
        const uint16_t holder = var_lookup(st, text + 1);
        if (holder == SLOT_NONE) return st->err = 3813, false;
        VarRef ref;
        if (!ref_from_pointer(st, slot_cell(&st->vars[holder]), &ref)) return false;
        return find(st, ref.level, ref.name);
    }
    bool found() const { return slot_ != nullptr; }
    Cell* cell() const { return slot_cell(slot_); }
    // Releases the value and frees the slot (slot 0 is never dropped).
    void drop(State* st) {
        if (!slot_ || index_ == 0) return;
        if (level_ == st->level) {
            var_drop(st, index_);
        } else {
            cell_release(st, slot_cell(slot_), CM_ELEMENT);
            memset(slot_->cell, 0, sizeof slot_->cell);
            slot_->flags = 0;
        }
    }

private:
    bool find(State* st, uint16_t level, const char* name) {
        if (level == st->level) {
            index_ = var_lookup(st, name);
            slot_ = index_ == SLOT_NONE ? nullptr : var_slot(st, index_);
            level_ = level;
            return true;
        }
        // A variable of a calling scope: its table is not the locked one.
        const ScopeFrame& f = st->frames[level];
        lock_ = std::make_unique<GMemLock>(f.table);
        if (!*lock_) return true;
        VarSlot* vars = lock_->get<VarSlot>();
        char lname[VARNAMESIZE + 1];
        snprintf(lname, sizeof lname, "%s", name);
        CharLowerA(lname);
        for (uint16_t i = 0; i < f.used; ++i) {
            if (slot_cell(&vars[i])->type && strcmp(vars[i].name, lname) == 0) {
                slot_ = &vars[i];
                index_ = i;
                level_ = level;
                break;
            }
        }
        return true;
    }

    std::unique_ptr<GMemLock> lock_;
    VarSlot* slot_ = nullptr;
    uint16_t index_ = SLOT_NONE;
    uint16_t level_ = 0;
};

// "*" matches any run, "?" any one character; case is ignored.
bool wild_match(const char* pat, const char* s) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*s) {
        char pc = *pat, sc = *s;
        CharLowerBuffA(&pc, pc ? 1 : 0);
        CharLowerBuffA(&sc, 1);
        if (*pat == '*') {
            star = ++pat;
            resume = s;
        } else if (*pat && (*pat == '?' || pc == sc)) {
            ++pat;
            ++s;
        } else if (star) {
            pat = star;
            s = ++resume;
        } else {
            return false;
        }
    }
    while (*pat == '*') ++pat;
    return *pat == 0;
}

// Drop(name, ...): releases the named variables; names that do not exist are
// passed over. Returns 1.
void fn_drop(State* st, int nargs, Cell* result, Cell* args, bool) {
    for (int i = 1; i <= nargs; ++i) {
        NamedVar v;
        if (!v.resolve(st, &args[i])) return;
        v.drop(st);
    }
    cell_set_int(st, result, 1);
}

// DropWild(pattern): drops every variable of the current scope whose name the
// pattern covers; returns how many were dropped.
void fn_dropwild(State* st, int, Cell* result, Cell* args, bool) {
    const char* pattern = cell_str(st, &args[1]);
    int dropped = 0;
    for (uint16_t i = 1; i < st->varUsed; ++i) {
        VarSlot* s = var_slot(st, i);
        if (s && slot_cell(s)->type && s->name[0] && wild_match(pattern, s->name)) {
            var_drop(st, i);
            ++dropped;
        }
    }
    cell_set_int(st, result, dropped);
}

// IsDefined(name): 1 when the variable exists and holds a value.
void fn_isdefined(State* st, int nargs, Cell* result, Cell* args, bool) {
    NamedVar v;
    if (nargs >= 1 && !v.resolve(st, &args[1])) return;
    cell_set_int(st, result, v.found() && (v.cell()->type & TW_HASVALUE) ? 1 : 0);
}

// VarType(name): the type word of the variable's value (0 when there is none).
void fn_vartype(State* st, int nargs, Cell* result, Cell* args, bool) {
    NamedVar v;
    if (nargs >= 1 && !v.resolve(st, &args[1])) return;
    cell_set_int(st, result, v.found() ? static_cast<int32_t>(v.cell()->type) : 0);
}

// Decimals(n): sets the number of decimals floats are written with; returns
// the previous setting.
void fn_decimals(State* st, int, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, set_decimals(st, args[1].i));
}

// ArrDimension(d1 [, d2 ... d5]): a new array of those sizes.
void fn_arrdimension(State* st, int nargs, Cell* result, Cell* args, bool) {
    uint32_t d[5] = {0, 0, 0, 0, 0};
    for (int k = 0; k < nargs && k < 5; ++k) d[k] = static_cast<uint32_t>(args[k + 1].i);
    if (d[0] == 0) {
        st->err = 1629;
        return;
    }
    CreateMyArray(st, result, d[0], d[1], d[2], d[3], d[4], 0, static_cast<uint32_t>(nargs));
}

// ArrInfo(a, request): -3 map or not, -2 0, -1 array or not, 0 dimension
// count, 1..5 a dimension's size, 6 the element count.
void fn_arrinfo(State* st, int, Cell* result, Cell* args, bool) {
    const int request = args[2].i;
    if (request < -3 || request > 6) {
        st->err = 1642;
        return;
    }
    const bool isArray = (args[1].type & TW_ARRAY) != 0;
    if (request == -1) {
        cell_set_int(st, result, isArray ? 1 : 0);
        return;
    }
    if (!isArray) {
        st->err = 1641;
        return;
    }
    const ArrayHdr* a = args[1].arr;
    if (!a) {
        st->err = 1637;
        return;
    }
    int64_t v = 0;
    switch (request) {
    case -3: v = (a->flags & ARR_MAP) ? 1 : 0; break;
    case -2: v = 0; break;
    case 0:  v = a->ndims; break;
    case 6:  v = a->count; break;
    default: v = a->dims[request - 1]; break;
    }
    cell_set_int(st, result, static_cast<int32_t>(v));
}

}  // namespace

extern const BuiltinEntry g_coreBuiltins[] = {
    {KW_ARRDIMENSION, fn_arrdimension},
    {KW_ARRINFO,      fn_arrinfo},
    {KW_DECIMALS,     fn_decimals},
    {KW_DROP,         fn_drop},
    {KW_DROPWILD,     fn_dropwild},
    {KW_ISDEFINED,    fn_isdefined},
    {KW_VARTYPE,      fn_vartype},
    {0, nullptr},
};
