// Value cells, variables, scopes, variable pointers and arrays.
#pragma once
#include "state.h"
#include "heap.h"
#include <cstring>
#include <emmintrin.h>
#include <utility>

// Zeroes N bytes (a multiple of 16) with vector stores. The compiler turns a
// memset of a cell or slot into "rep stos" in some functions, which costs
// more than the rest of making a variable.
// The stores are written out rather than looped: the compiler would turn the
// loop back into a memset.
template <size_t... K>
inline void zero_blocks(char* p, std::index_sequence<K...>) {
    const __m128i z = _mm_setzero_si128();
    (_mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16 * K), z), ...);
}
template <size_t N>
inline void zero_fill(void* p) {
    static_assert(N % 16 == 0);
    zero_blocks(static_cast<char*>(p), std::make_index_sequence<N / 16>{});
}

// ---- cells ----
enum : uint32_t {
    CM_BARE = 1, CM_VARBOUND = 2, CM_ELEMENT = 3,     // mode, low four bits
    CC_LEVEL_FROM_SLOT = 0x100, CC_DUPSTRINGS = 0x200, CC_VARIANT = 0x400, CC_ADDREF = 0x800,
    CR_KEEPVARIANT = 0x100, CR_KEEPARRAY = 0x200,
};
// INT value, no strings, slot none. Inline: every statement makes several.
inline void cell_init(Cell* c, int32_t value = 0) {
    zero_fill<sizeof *c>(c);   // also VT_EMPTY (0) in the variant: no VariantInit call needed
    c->i = value;
    c->type = TW_INT;
    c->slot = SLOT_NONE;
    c->level = LEVEL_NONE;
}
// Copies src to dst (dst is overwritten, not released). CM_BARE and CM_ELEMENT read
// only bytes 0-55 of src (so a variable slot or an element may be the source);
// CM_ELEMENT also writes only bytes 0-55 of dst (an element cell is the target);
// CM_VARBOUND copies the ref/slot/level fields.
// A slotArg whose low half is not 65535 records that slot in dst instead, with the
// level from its high half under CC_LEVEL_FROM_SLOT, else the current level.
// Without CC_DUPSTRINGS / CC_VARIANT the handles and the variant are shared.
// Returns false (error set, dst left as INT 0) when a string could not be duplicated.
bool cell_copy(State* st, Cell* dst, const Cell* src, uint32_t opts, uint32_t slotArg = SLOT_NONE);
// Frees what the cell owns (strings, an array reference, the variant) and
// clears those type bits; a plain number owns nothing and costs one test.
void cell_release_owned(State* st, Cell* c, uint32_t opts);
inline void cell_release(State* st, Cell* c, uint32_t opts) {
    if (c && (c->type & (TW_ARRAY | TW_STRING | TW_UNICODE | TW_VARIANT))) cell_release_owned(st, c, opts);
}

bool cell_set_int(State* st, Cell* c, int32_t v);     // release old contents first
bool cell_set_int64(State* st, Cell* c, int64_t v);   // always INT64, even when it would fit in INT
bool cell_set_float(State* st, Cell* c, double v);
bool cell_set_str(State* st, Cell* c, const char* s, size_t len);     // 3096 on failure
bool cell_set_wstr(State* st, Cell* c, const wchar_t* s, size_t len); // 3096 on failure
const char*    cell_str(State* st, const Cell* c);    // ANSI text of a STRING cell ("" if none)
const wchar_t* cell_wstr(State* st, const Cell* c);   // wide text of a UNICODE cell

// Appends the type-name texts ("INT", "STRING/UNICODE", ...) of a type word;
// `vt` names the variant type for "VARIANT_<vt>" (the cell's var.vt).
void type_name(uint32_t type, char* out, size_t size, uint16_t vt = 0);

// ---- variables ----
uint16_t var_lookup(State* st, const char* name);              // any type; SLOT_NONE if absent
extern "C" int find_var(State* st, const char* name, int report);   // -1 + 3051/3052
// The same lookups for a lower-cased name the tokenizer just read, starting
// from `hint` (the slot it was found in): when that slot is in use and holds
// the name, it is the one a scan would find first (a name lives in one slot
// in use at a time; only the reserved slot 0 is checked besides).
bool var_hint_valid(const State* st, uint16_t hint, const char* lname);
uint16_t var_lookup_hint(State* st, const char* lname, uint16_t hint);
int find_var_hint(State* st, const char* lname, uint16_t hint, int report);
// Creates (or reuses) a slot for a lower-cased name; 3097 when full.
uint16_t var_create(State* st, const char* lname, uint32_t type);
// var_create for a lower-case name the caller knows is not in the table and
// a table with no dropped slot (a scope just entered): no lookup.
uint16_t var_create_new(State* st, const char* lname, uint32_t type);
VarSlot* var_slot(State* st, uint16_t index);
// Stores a copy of `value` (strings duplicated, array referenced) in the slot,
// releasing the old value. False (error set) on failure; the old value stays then.
bool var_assign(State* st, uint16_t index, const Cell* value);
// Moves a value that owns its strings (no array, automation value or object
// temporary) into the variable, leaving `value` INT 0.
bool var_assign_move(State* st, uint16_t index, Cell* value);
// Reads a variable into a fresh result cell (strings duplicated, array referenced,
// variant shared with the variable, slot and current level recorded): release it
// with CM_VARBOUND, which keeps the shared variant.
bool var_read(State* st, uint16_t index, Cell* out);
void var_drop(State* st, uint16_t index);                       // releases and frees the slot

// ---- scopes ----
// Makes `table` (slots entries) the current scope one level up. False: 3353-like failure set by caller.
bool scope_push(State* st, HGLOBAL table, uint16_t slots);
// The same with a table its owner keeps locked (`vars` is its address);
// lockedHere tells scope_pop to unlock it.
bool scope_push_locked(State* st, HGLOBAL table, VarSlot* vars, uint16_t slots, bool lockedHere);
// Releases the values of the current scope's variables, unlocks its table and
// returns to the level below. The table itself stays with whoever pushed it.
void scope_pop(State* st);
void scope_start(State* st, HGLOBAL table, uint16_t slots);     // level 0 (request 2)

// ---- variable pointers ----
// Writes "#VAR$PTR#..." for a variable of the current scope; returns its length.
int  varptr_format(State* st, uint16_t level, const char* name, char* out, size_t size);
// Validates a pointer text; returns 0 or 3813/3814 (not stored in st->err, so it
// also serves as a plain test). Fills level and the lower-cased name (31 bytes).
int  varptr_parse(State* st, const char* text, uint16_t* level, char* name);

// ---- arrays ----
extern "C" uint32_t CreateMyArray(State* st, Cell* cell, uint32_t d1, uint32_t d2, uint32_t d3,
                                  uint32_t d4, uint32_t d5, uint32_t flags, uint32_t count);
inline Cell* arr_elem(ArrayHdr* a, uint32_t i) {
    return reinterpret_cast<Cell*>(a->elements + static_cast<size_t>(i) * ELEMENT_SIZE);
}
// Flat index of 0-based subscripts; 0 or 1635/1636/1637/1710.
int  arr_flat_index(const ArrayHdr* a, const int64_t* subs, int n, uint32_t* flat);
void arr_addref(ArrayHdr* a);
// Element storage of its own, for an array that outgrows its block: the
// header stays where it is, so every cell that refers to the array stays
// valid. arr_storage_alloc gives `cells` zero-filled element cells (nullptr
// with 1644 when too large, 1631 when the memory cannot be had);
// arr_storage_set makes them the array's storage and frees the previous
// storage WITHOUT releasing its cells (move or release them first);
// arr_storage_free gives back storage that was never set.
uint8_t* arr_storage_alloc(State* st, uint64_t cells);
void arr_storage_set(ArrayHdr* a, uint8_t* cells, uint32_t capacity);
void arr_storage_free(uint8_t* cells);
void arr_release(State* st, ArrayHdr* a);   // last reference frees elements and block
