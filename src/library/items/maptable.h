// Maps: array blocks flagged ARR_MAP that hold key and value cells in a
// hash table. The evaluator (map subscripts), the executor (ForEach) and
// the Map functions of this family reach the table only through here.
//
// Layout of the element cells (56 bytes each), in pairs:
//   pair 0        the table's control record (type word 0 in both cells, so
//                 releasing the block passes over it): bucket count, first
//                 and last pair in the order keys were added, pairs in use;
//   pair b >= 1   bucket b: cell 2b is the key (an ANSI STRING; its unused
//                 variant bytes hold the key's hash and the links of the
//                 order keys were added), cell 2b + 1 the value. A bucket
//                 whose key cell has type word 0 is free.
// Collisions are resolved by linear probing; removing a key moves the keys
// that follow it back (no tombstones). The header says one dimension whose
// size, like the element count, is the number of keys.
//
// Keys are compared without regard to case. The hash is the 32-bit FNV-1a
// hash of the key's ANSI bytes, each byte lower-cased first.
#pragma once
#include "value.h"
#include <cstddef>
#include <cstdint>

namespace items {

uint32_t map_hash(State* st, const char* key, size_t len);

inline bool is_map(const Cell* c) { return (c->type & TW_ARRAY) && c->arr && (c->arr->flags & ARR_MAP); }

// A new empty map in `out` with room for `pairs` keys before it must grow:
// the larger of the map-size setting (IntControl 120) and 6/5 of `pairs`.
// False with 1631/1644 set.
bool map_new(State* st, Cell* out, uint64_t pairs);

// The value cell of `key`, or nullptr when the map does not hold it.
Cell* map_find(State* st, ArrayHdr* m, const char* key, size_t len);
// The value cell of `key`, added with no value (type word 0) when the map
// did not hold it; the caller stores the value. nullptr with the error set
// when the table could not grow (1631, 1644) or the key could not be stored
// (3096). Adding may move every pair: cell pointers taken before are stale.
Cell* map_insert(State* st, ArrayHdr* m, const char* key, size_t len);
// Removes a key and its value; false when the map did not hold it.
bool map_remove(State* st, ArrayHdr* m, const char* key, size_t len);

// The pairs in the order their keys were added: start with pos = 0;
// each call gives the next pair and false after the last.
bool map_next(ArrayHdr* m, uint32_t* pos, Cell** key, Cell** value);

// A new one-dimensional array holding a copy of every key (or, with
// `values`, every value), in the order the keys were added, or with `sorted`
// in the ascending order of the keys (StrICmp's comparison); `descending`
// reverses the order. An empty map gives an empty array.
bool map_to_array(State* st, ArrayHdr* m, Cell* out, bool values, bool sorted, bool descending);
// The keys in the order they were added (ForEach over a map).
bool map_keys_array(State* st, ArrayHdr* m, Cell* out);

}  // namespace items
