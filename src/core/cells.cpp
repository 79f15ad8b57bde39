// Value cells: initialisation, copy, release and the type-name text.
//
// A cell owns what its type word says it holds: heap blocks for STRING and
// UNICODE, one reference of an ARRAY block, the automation VARIANT. Copying
// either shares these (the caller moves ownership) or duplicates them, as the
// option bits ask; releasing frees what the cell owns and clears those bits.
// The mode in the low four bits tells how much of the cell exists: a bare
// 80-byte cell, an 80-byte cell bound to a variable (its variant is the
// variable's and is not cleared), or a 56-byte array element.
#include "value.h"
#include "textscan.h"
#include <cstring>
#include <cstdio>
#include <string>

bool cell_copy(State* st, Cell* dst, const Cell* src, uint32_t opts, uint32_t slotArg) {
    const uint32_t mode = opts & 0xF;
    // Plain numbers own nothing: copy the value fields and the reference
    // fields the mode asks for, and nothing else.
    if (!(src->type & (TW_STRING | TW_UNICODE | TW_ARRAY | TW_VARIANT | TW_COMTEMP)) && mode != CM_ELEMENT) {
        const uint32_t type = src->type;
        const int64_t wide = src->i64;
        const int32_t i = src->i;
        memset(dst, 0, sizeof *dst);
        dst->i64 = wide;
        dst->i = i;
        dst->type = type;
        if ((slotArg & 0xFFFF) != SLOT_NONE) {
            dst->slot = static_cast<uint16_t>(slotArg & 0xFFFF);
            dst->level = (opts & CC_LEVEL_FROM_SLOT) ? static_cast<int16_t>(slotArg >> 16)
                                                     : static_cast<int16_t>(st->level);
        } else if (mode == CM_VARBOUND) {
            dst->ref = src->ref;
            dst->slot = src->slot;
            dst->level = src->level;
        } else {
            dst->slot = SLOT_NONE;
            dst->level = LEVEL_NONE;
        }
        return true;
    }
    Cell tmp;
    memset(&tmp, 0, sizeof tmp);
    memcpy(&tmp, src, ELEMENT_SIZE);
    if (mode != CM_ELEMENT) {
        if ((slotArg & 0xFFFF) != SLOT_NONE) {
            tmp.slot = static_cast<uint16_t>(slotArg & 0xFFFF);
            tmp.level = (opts & CC_LEVEL_FROM_SLOT) ? static_cast<int16_t>(slotArg >> 16)
                                                    : static_cast<int16_t>(st->level);
        } else if (mode == CM_VARBOUND) {
            tmp.ref = src->ref;
            tmp.slot = src->slot;
            tmp.level = src->level;
        } else {
            tmp.slot = SLOT_NONE;
            tmp.level = LEVEL_NONE;
        }
    }

    const bool isArray = tmp.type & TW_ARRAY;
    if (opts & CC_DUPSTRINGS) {
        uint64_t s = 0, w = 0;
        bool ok = true;
        if ((tmp.type & TW_STRING) && !isArray && tmp.str) {
            const char* text = heap_ptr(st, src->str);
            ok = (s = heap_strdup(st, text, text_len(text))) != 0;
            tmp.str = s;
        }
        if (ok && (tmp.type & TW_UNICODE) && tmp.wstr) {
            const wchar_t* text = heap_wptr(st, src->wstr);
            ok = (w = heap_wstrdup(st, text, text_len(text))) != 0;
            tmp.wstr = w;
        }
        if (!ok) {
            if (s) VFree(st, s);
            if (mode == CM_ELEMENT) {
                memset(dst, 0, ELEMENT_SIZE);
                dst->type = TW_INT;
            } else {
                cell_init(dst, 0);
            }
            st->err = 3096;
            return false;
        }
    }
    if ((opts & CC_VARIANT) && (tmp.type & TW_VARIANT)) {
        // A variant that cannot be copied (unknown type, no memory) arrives
        // empty rather than shared, so the two cells never clear the same value.
        VariantInit(&tmp.var);
        if (FAILED(VariantCopy(&tmp.var, const_cast<VARIANT*>(&src->var)))) VariantInit(&tmp.var);
    }
    if ((opts & CC_ADDREF) && isArray && tmp.arr) arr_addref(tmp.arr);

    memcpy(dst, &tmp, mode == CM_ELEMENT ? ELEMENT_SIZE : sizeof tmp);
    return true;
}

void cell_release_owned(State* st, Cell* c, uint32_t opts) {
    if (!c) return;
    const uint32_t mode = opts & 0xF;
    const uint32_t t = c->type;
    if (t & TW_ARRAY) {
        if (!(opts & CR_KEEPARRAY)) {
            ArrayHdr* a = c->arr;
            c->arr = nullptr;
            c->type &= ~TW_ARRAY;
            if (a) arr_release(st, a);
        }
    } else if (t & TW_STRING) {
        if (c->str) VFree(st, c->str);
        c->str = 0;
        c->type &= ~TW_STRING;
    }
    if (t & TW_UNICODE) {
        if (c->wstr) VFree(st, c->wstr);
        c->wstr = 0;
        c->type &= ~TW_UNICODE;
    }
    if (t & TW_VARIANT) {
        // A cell read from a variable shares that variable's variant.
        bool keep = (opts & CR_KEEPVARIANT) || (mode == CM_VARBOUND && c->slot < SLOT_NONE);
        if (!keep) {
            VariantClear(&c->var);
            c->type &= ~TW_COMOBJ;
        }
    }
}

// Releases what a result cell holds and makes it a plain INT 0 with no binding.
static void cell_reset(State* st, Cell* c) {
    cell_release(st, c, CM_VARBOUND);
    cell_init(c, 0);
}

bool cell_set_int(State* st, Cell* c, int32_t v) {
    cell_reset(st, c);
    c->i = v;
    return true;
}

bool cell_set_int64(State* st, Cell* c, int64_t v) {
    cell_reset(st, c);
    c->type = TW_INT64;
    c->i64 = v;
    return true;
}

bool cell_set_float(State* st, Cell* c, double v) {
    cell_reset(st, c);
    c->type = TW_FLOAT;
    c->f = v;
    return true;
}

// The new text is copied before the old value goes, so `s` may point into it.
bool cell_set_str(State* st, Cell* c, const char* s, size_t len) {
    uint64_t h = heap_strdup(st, s, len);
    if (!h) {
        st->err = 3096;
        return false;
    }
    cell_reset(st, c);
    c->type = TW_STRING;
    c->str = h;
    return true;
}

bool cell_set_wstr(State* st, Cell* c, const wchar_t* s, size_t len) {
    uint64_t h = heap_wstrdup(st, s, len);
    if (!h) {
        st->err = 3096;
        return false;
    }
    cell_reset(st, c);
    c->type = TW_UNICODE;
    c->wstr = h;
    return true;
}

const char* cell_str(State* st, const Cell* c) {
    if ((c->type & TW_STRING) && !(c->type & TW_ARRAY) && c->str) return heap_ptr(st, c->str);
    return "";
}

const wchar_t* cell_wstr(State* st, const Cell* c) {
    if ((c->type & TW_UNICODE) && c->wstr) return heap_wptr(st, c->wstr);
    return L"";
}

// ---- type names ----

namespace {

struct TypeText {
    uint32_t mask, want;
    const char* text;      // nullptr: the variant's own name
};
// In output order. "INT/" only when neither the file nor the buffer bit is set.
const TypeText kTypeTexts[] = {
    {0x0045, 0x0001, "INT/"},
    {0x2000, 0x2000, "INT64/"},
    {0x0002, 0x0002, "STRING/"},
    {0x0005, 0x0005, "FILE/"},
    {0x0020, 0x0020, "FLOAT/"},
    {0x0041, 0x0041, "BINBUF/"},
    {0x0100, 0x0100, "ARRAY/"},
    {0x0600, 0x0600, "COMOBJ/"},
    {0x0600, 0x0200, nullptr},
    {0x0080, 0x0080, "UNICODE/"},
    {0x0800, 0x0800, "COMTEMP/"},
};

// Base variant types by number; gaps are unnamed.
const char* const kVtNames[] = {
    "EMPTY", "NULL", "I2", "I4", "R4", "R8", "CY", "DATE", "BSTR", "DISPATCH", "ERROR",
    "BOOL", "VARIANT", "UNKNOWN", "DECIMAL", nullptr, "I1", "UI1", "UI2", "UI4", "I8",
    "UI8", "INT", "UINT", "VOID", "HRESULT", "PTR", "SAFEARRAY", "CARRAY", "USERDEFINED",
    "LPSTR", "LPWSTR", nullptr, nullptr, nullptr, nullptr, "RECORD", "INT_PTR", "UINT_PTR",
};

// "BSTR", "ARRAY_VARIANT", "BYREF_I4"; an unnamed base type is its number.
std::string vt_name(uint16_t vt) {
    std::string s;
    if (vt & VT_BYREF) s += "BYREF_";
    if (vt & VT_ARRAY) s += "ARRAY_";
    if (vt & VT_VECTOR) s += "VECTOR_";
    uint16_t base = vt & VT_TYPEMASK;
    if (base < sizeof kVtNames / sizeof *kVtNames && kVtNames[base]) {
        s += kVtNames[base];
    } else {
        char num[8];
        snprintf(num, sizeof num, "%u", static_cast<unsigned>(base));
        s += num;
    }
    return s;
}

}  // namespace

void type_name(uint32_t type, char* out, size_t size, uint16_t vt) {
    if (!out || !size) return;
    std::string s;
    if (type == 0) {
        s = "UNDEFINED";
    } else if (type == TW_UNINIT) {
        s = "UNINITIALIZED";
    } else {
        for (const TypeText& t : kTypeTexts) {
            if ((type & t.mask) != t.want) continue;
            s += t.text ? std::string(t.text) : "VARIANT_" + vt_name(vt) + "/";
        }
        if (s.empty()) s = "UNKNOWN";
        else s.pop_back();                         // the final "/"
    }
    snprintf(out, size, "%s", s.c_str());
}
