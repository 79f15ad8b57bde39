// Variables, scopes and variable pointers.
//
// Each scope has a host- or executor-supplied table of 96-byte slots; the
// state keeps the current table locked and remembers how many slots are in
// use (a high-water mark). Lookup is a linear scan in creation order, which
// keeps variable listings in the order the script made them. Slot 0 is
// reserved: empty name, UNINITIALIZED, integer -1.
//
// A variable pointer names a variable of any active scope as text; it carries
// the scope's table handle, serial and creation tick so that a pointer into a
// scope that has returned no longer validates.
#include "value.h"
#include "errors.h"
#include "lexer_internal.h"
#include <cstring>
#include <cstdio>

namespace {

constexpr char PTR_PREFIX[] = "#VAR$PTR#";
constexpr size_t PTR_PREFIX_LEN = sizeof PTR_PREFIX - 1;          // 9
constexpr size_t PTR_NAME_POS = PTR_PREFIX_LEN + 4 + 16 + 8 + 8;   // 45
constexpr size_t PTR_MIN_LEN = 38, PTR_MAX_LEN = 75;

inline Cell* cell_of(State* st, uint16_t i) { return slot_cell(&st->vars[i]); }

// Whether the system code page has one byte per character. Then the
// tokenizer's table of lower-cased single bytes gives exactly what
// CharLowerBuffA gives, without its round trip through UTF-16 (which costs
// more than the whole variable scan on every name token).
bool single_byte_code_page() {
    static const bool sbcs = [] {
        CPINFO info;
        return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
    }();
    return sbcs;
}

// Copies a name of at most 30 characters and lower-cases it with the system's
// ANSI rules. False when the name is too long to be a variable.
bool lower_name(const char* name, char out[VARNAMESIZE + 1], size_t* len) {
    size_t n = strnlen(name, VARNAMESIZE + 1);
    if (n > VARNAMESIZE) return false;
    if (single_byte_code_page()) {
        const lex::CharTables& t = lex::chars();
        for (size_t k = 0; k < n; k++) out[k] = t.lower[static_cast<unsigned char>(name[k])];
        out[n] = 0;
    } else {
        memcpy(out, name, n);
        out[n] = 0;
        if (n) CharLowerBuffA(out, static_cast<DWORD>(n));
    }
    *len = n;
    return true;
}

void init_reserved_slot(VarSlot* s) {
    zero_fill<sizeof *s>(s);
    Cell* c = slot_cell(s);
    c->i = -1;
    c->type = TW_UNINIT;
}

// Whether the statement in progress is being skipped (an If branch not taken,
// a loop being left): its innermost structure entry has a non-zero status.
bool statement_skipped(const State* st) {
    uint32_t n = st->stackCount;
    return n > 0 && n <= MAX_STRUCT && st->stack[n - 1].status != 0;
}

// The settings file lives in the Windows directory.
void record_uninitialized(const char* name) {
    char path[MAX_PATH + 16];
    if (!settings_file_path(path, sizeof path)) return;
    WritePrivateProfileStringA("Error Reporting", "3052", name, path);
}

// Locks a table and returns its address and a slot count trimmed to what the
// block really holds.
VarSlot* lock_table(HGLOBAL table, uint16_t* slots) {
    VarSlot* v = table ? static_cast<VarSlot*>(GlobalLock(table)) : nullptr;
    if (!v) return nullptr;
    SIZE_T fits = GlobalSize(table) / sizeof(VarSlot);
    if (fits < *slots) *slots = static_cast<uint16_t>(fits);
    return v;
}

// Makes a freshly locked table the current one at `level`.
void enter_scope(State* st, uint16_t level, HGLOBAL table, VarSlot* vars, uint16_t slots) {
    st->level = level;
    st->varTable = table;
    st->vars = vars;
    st->varSlots = vars ? slots : 0;
    st->varUsed = 0;
    if (vars && slots) {
        init_reserved_slot(&vars[0]);
        st->varUsed = 1;
    }
    st->curSerial = ++st->scopeSerialCounter;
    st->curTick = GetTickCount();
    ScopeFrame& f = st->frames[level];
    f.level = level;
    f.slots = st->varSlots;
    f.used = st->varUsed;
    f.marker = 65535;
    f.serial = st->curSerial;
    f.tick = st->curTick;
    f.table = table;
}

// Reads exactly n hex digits.
bool hex_field(const char* s, size_t n, uint64_t* v) {
    uint64_t r = 0;
    for (size_t i = 0; i < n; i++) {
        char c = s[i];
        int d = c >= '0' && c <= '9' ? c - '0'
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
              : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0) return false;
        r = r << 4 | static_cast<uint64_t>(d);
    }
    *v = r;
    return true;
}

}  // namespace

// ---- lookup and creation ----

namespace {

// The slot of a name already in lower case (n characters), or SLOT_NONE.
uint16_t lookup_lowered(State* st, const char* lname, size_t n) {
    if (!st->vars) return SLOT_NONE;
    for (uint16_t i = 0; i < st->varUsed; i++) {
        const VarSlot& s = st->vars[i];
        if (s.name[0] == lname[0] && memcmp(s.name, lname, n + 1) == 0 && cell_of(st, i)->type)
            return i;
    }
    return SLOT_NONE;
}

// A new slot named `name` (lower case, n characters): the last dropped slot
// when `reuse` is set, else the next one. The count never reaches the slot
// count, so 65535 stays free to mean "no slot".
uint16_t make_slot(State* st, const char* name, size_t n, uint32_t type, bool reuse) {
    if (!st->vars) {
        st->err = 3097;
        return SLOT_NONE;
    }
    uint16_t i = SLOT_NONE;
    for (uint16_t k = st->varUsed; reuse && k-- > 1;) {
        if (cell_of(st, k)->type == 0) {
            i = k;
            break;
        }
    }
    if (i == SLOT_NONE) {
        if (st->varUsed + 1u >= st->varSlots) {
            st->err = 3097;
            return SLOT_NONE;
        }
        i = st->varUsed++;
    }
    VarSlot* s = &st->vars[i];
    zero_fill<sizeof *s>(s);
    Cell* c = slot_cell(s);
    c->i = -1;
    c->type = type;
    memcpy(s->name, name, n + 1);
    return i;
}

}  // namespace

uint16_t var_lookup(State* st, const char* name) {
    char lname[VARNAMESIZE + 1];
    size_t n;
    if (!st->vars || !lower_name(name, lname, &n)) return SLOT_NONE;
    return lookup_lowered(st, lname, n);
}

namespace {

// A slot's name against a lower-case name (names are short: no library call).
inline bool same_name(const char* slotName, const char* lname) {
    for (size_t k = 0; k < sizeof VarSlot::name; ++k) {
        if (slotName[k] != lname[k]) return false;
        if (!slotName[k]) return true;
    }
    return false;
}

}  // namespace

bool var_hint_valid(const State* st, uint16_t hint, const char* lname) {
    if (hint == SLOT_NONE || hint == 0 || hint >= st->varUsed || !st->vars) return false;
    const VarSlot& s = st->vars[hint];
    if (s.name[0] != lname[0] || !reinterpret_cast<const Cell*>(s.cell)->type || !same_name(s.name, lname))
        return false;
    const VarSlot& z = st->vars[0];
    return z.name[0] != lname[0] || !reinterpret_cast<const Cell*>(z.cell)->type || !same_name(z.name, lname);
}

uint16_t var_lookup_hint(State* st, const char* lname, uint16_t hint) {
    return var_hint_valid(st, hint, lname) ? hint : var_lookup(st, lname);
}

int find_var_hint(State* st, const char* lname, uint16_t hint, int report) {
    if (var_hint_valid(st, hint, lname) && (cell_of(st, hint)->type & TW_HASVALUE)) return hint;
    return find_var(st, lname, report);
}

extern "C" int find_var(State* st, const char* name, int report) {
    uint16_t i = var_lookup(st, name);
    if (i == SLOT_NONE) {
        st->err = 3051;
        return -1;
    }
    if (cell_of(st, i)->type & TW_HASVALUE) return i;
    st->err = 3052;
    if (report && !statement_skipped(st)) {
        record_uninitialized(name);
        char text[128];
        snprintf(text, sizeof text, "%s\n\n    %s", "Uninitialized variable or undefined function:", name);
        err_detail(st, text);
    }
    return -1;
}

uint16_t var_create(State* st, const char* lname, uint32_t type) {
    char name[VARNAMESIZE + 1];
    size_t n;
    if (!lower_name(lname, name, &n)) {
        st->err = 3055;
        return SLOT_NONE;
    }
    uint16_t found = lookup_lowered(st, name, n);
    if (found != SLOT_NONE) return found;
    return make_slot(st, name, n, type, true);
}

uint16_t var_create_new(State* st, const char* lname, uint32_t type) {
    const size_t n = strnlen(lname, VARNAMESIZE + 1);
    if (n > VARNAMESIZE) {
        st->err = 3055;
        return SLOT_NONE;
    }
    return make_slot(st, lname, n, type, false);
}

VarSlot* var_slot(State* st, uint16_t index) {
    return st->vars && index < st->varUsed ? &st->vars[index] : nullptr;
}

bool var_assign(State* st, uint16_t index, const Cell* value) {
    VarSlot* s = var_slot(st, index);
    if (!s) {
        st->err = 3816;
        return false;
    }
    if (!(value->type & (TW_STRING | TW_UNICODE | TW_ARRAY | TW_VARIANT | TW_COMTEMP))) {
        // A plain number owns nothing and cannot fail: it is written in place
        // (a whole-cell copy of a cell just written field by field is slow).
        const uint32_t type = value->type;
        const int64_t wide = value->i64;
        const int32_t i = value->i;
        Cell* c = slot_cell(s);
        if (c->type & (TW_STRING | TW_UNICODE | TW_ARRAY | TW_VARIANT)) cell_release(st, c, CM_ELEMENT);
        memset(s->cell, 0, sizeof s->cell);
        c->i64 = wide;
        c->i = i;
        c->type = type;
        return true;
    }
    // Copy first: on failure the old value stays, and assigning a variable's
    // own array or string to it never frees what is being copied.
    Cell fresh;
    if (!cell_copy(st, &fresh, value, CM_BARE | CC_DUPSTRINGS | CC_VARIANT | CC_ADDREF)) return false;
    cell_release(st, slot_cell(s), CM_ELEMENT);
    memcpy(s->cell, &fresh, sizeof s->cell);
    return true;
}

bool var_assign_move(State* st, uint16_t index, Cell* value) {
    VarSlot* s = var_slot(st, index);
    if (!s) {
        st->err = 3816;
        return false;
    }
    cell_release(st, slot_cell(s), CM_ELEMENT);
    memcpy(s->cell, value, ELEMENT_SIZE);
    memset(s->cell + ELEMENT_SIZE, 0, sizeof s->cell - ELEMENT_SIZE);
    cell_init(value, 0);
    return true;
}

bool var_read(State* st, uint16_t index, Cell* out) {
    VarSlot* s = var_slot(st, index);
    if (!s) {
        st->err = 3816;
        return false;
    }
    return cell_copy(st, out, slot_cell(s), CM_BARE | CC_DUPSTRINGS | CC_ADDREF, index);
}

void var_drop(State* st, uint16_t index) {
    VarSlot* s = var_slot(st, index);
    if (!s || index == 0) return;
    cell_release(st, slot_cell(s), CM_ELEMENT);
    memset(s->cell, 0, sizeof s->cell);
    s->flags = 0;
}

// ---- scopes ----

void scope_start(State* st, HGLOBAL table, uint16_t slots) {
    VarSlot* v = lock_table(table, &slots);
    enter_scope(st, 0, table, v, slots);
}

// The caller's table stays locked while a function runs (it belongs to this
// library call as much as the new one), so returning needs no new lock and
// the caller's address stays what it was.
bool scope_push_locked(State* st, HGLOBAL table, VarSlot* vars, uint16_t slots, bool lockedHere) {
    if (st->level + 1 >= MAX_SCOPES || !vars) return false;
    ScopeFrame& cur = st->frames[st->level];
    cur.slots = st->varSlots;
    cur.used = st->varUsed;
    st->scopeVars[st->level] = st->vars;
    enter_scope(st, st->level + 1, table, vars, slots);
    st->scopeLockedHere[st->level] = lockedHere ? 1 : 0;
    return true;
}

bool scope_push(State* st, HGLOBAL table, uint16_t slots) {
    if (st->level + 1 >= MAX_SCOPES) return false;
    VarSlot* v = lock_table(table, &slots);
    if (!v) return false;
    return scope_push_locked(st, table, v, slots, true);
}

void scope_pop(State* st) {
    if (st->level == 0) return;
    if (st->vars) {
        for (uint16_t i = 0; i < st->varUsed; i++) cell_release(st, cell_of(st, i), CM_ELEMENT);
        if (st->scopeLockedHere[st->level]) GlobalUnlock(st->varTable);
    }
    st->scopeLockedHere[st->level] = 0;
    ScopeFrame& gone = st->frames[st->level];
    memset(&gone, 0, sizeof gone);
    gone.marker = 65535;

    st->level--;
    ScopeFrame& f = st->frames[st->level];
    st->varTable = f.table;
    st->vars = f.table ? st->scopeVars[st->level] : nullptr;
    st->varSlots = st->vars ? f.slots : 0;
    st->varUsed = st->vars ? f.used : 0;
    st->curSerial = f.serial;
    st->curTick = f.tick;
}

// ---- variable pointers ----

int varptr_format(State* st, uint16_t level, const char* name, char* out, size_t size) {
    if (level > st->level || !out || !size) return -1;
    const ScopeFrame& f = st->frames[level];
    int n = snprintf(out, size, "%s%04X%016llX%08lX%08lX%s", PTR_PREFIX, static_cast<unsigned>(level),
                     static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(f.table)),
                     static_cast<unsigned long>(f.serial), static_cast<unsigned long>(f.tick), name);
    return n < 0 || static_cast<size_t>(n) >= size ? -1 : n;
}

int varptr_parse(State* st, const char* text, uint16_t* level, char* name) {
    size_t len = strnlen(text, PTR_MAX_LEN + 1);
    if (len < PTR_MIN_LEN || len > PTR_MAX_LEN || strncmp(text, PTR_PREFIX, PTR_PREFIX_LEN) != 0)
        return 3813;
    // The length test admits texts too short to hold every field; their
    // fields cannot match a frame, so they are invalid rather than "not a
    // pointer". A pointer without a name is invalid as well.
    const char* p = text + PTR_PREFIX_LEN;
    uint64_t lv, handle, serial, tick;
    if (len <= PTR_NAME_POS || !hex_field(p, 4, &lv) || !hex_field(p + 4, 16, &handle) ||
        !hex_field(p + 20, 8, &serial) || !hex_field(p + 28, 8, &tick))
        return 3814;
    if (lv >= MAX_SCOPES || lv > st->level) return 3814;
    const ScopeFrame& f = st->frames[lv];
    if (handle != reinterpret_cast<uintptr_t>(f.table) || serial != f.serial || tick != f.tick)
        return 3814;
    size_t n;
    if (!lower_name(text + PTR_NAME_POS, name, &n)) return 3814;
    *level = static_cast<uint16_t>(lv);
    return 0;
}
