// The hash table of maps (see maptable.h for the layout).
#include "library/items/maptable.h"
#include "library/strings/strings.h"
#include <algorithm>
#include <cstring>
#include <vector>

namespace items {

namespace {

constexpr uint32_t kDefaultMapSize = 64;

// Pair 0: the control record, in the variant bytes of cell 0.
struct MapCtl {
    uint32_t buckets;   // buckets 1..buckets
    uint32_t head;      // first and last bucket in the order keys were added (0: none)
    uint32_t tail;
    uint32_t used;      // keys held
};
// A key cell's unused variant bytes.
struct KeyMeta {
    uint32_t hash;
    uint32_t len;       // bytes of the key
    uint32_t prev;      // neighbours in the order keys were added (0: none)
    uint32_t next;
};
static_assert(sizeof(MapCtl) <= sizeof(VARIANT) && sizeof(KeyMeta) <= sizeof(VARIANT));

// One table's cells: the array's storage, or storage being built by a growth.
struct Table {
    uint8_t* base;

    Cell* cell(uint64_t i) const { return reinterpret_cast<Cell*>(base + i * ELEMENT_SIZE); }
    MapCtl& ctl() const { return *reinterpret_cast<MapCtl*>(cell(0)); }
    Cell* key(uint32_t b) const { return cell(2ull * b); }
    Cell* value(uint32_t b) const { return cell(2ull * b + 1); }
    static KeyMeta& meta(Cell* k) { return *reinterpret_cast<KeyMeta*>(k); }
    KeyMeta& meta(uint32_t b) const { return meta(key(b)); }
    uint32_t home(uint32_t hash) const { return hash % ctl().buckets + 1; }
    uint32_t step(uint32_t b) const { return b == ctl().buckets ? 1 : b + 1; }

    // Appends bucket b to the order keys were added.
    void link_last(uint32_t b) {
        MapCtl& c = ctl();
        meta(b).prev = c.tail;
        meta(b).next = 0;
        if (c.tail) meta(c.tail).next = b;
        else c.head = b;
        c.tail = b;
    }
    // Takes bucket b out of the order keys were added.
    void unlink(uint32_t b) {
        MapCtl& c = ctl();
        const KeyMeta& m = meta(b);
        if (m.prev) meta(m.prev).next = m.next;
        else c.head = m.next;
        if (m.next) meta(m.next).prev = m.prev;
        else c.tail = m.prev;
    }
    // Makes the neighbours of bucket `from` point at `to` instead.
    void relink(uint32_t from, uint32_t to) {
        MapCtl& c = ctl();
        const KeyMeta& m = meta(from);
        if (m.prev) meta(m.prev).next = to;
        else c.head = to;
        if (m.next) meta(m.next).prev = to;
        else c.tail = to;
    }
};

uint64_t cells_for(uint64_t buckets) { return 2 * (buckets + 1); }

// The table of a map, or base nullptr (1637) when its storage is missing or
// too small for the bucket count it claims.
Table table_of(State* st, ArrayHdr* m) {
    Table t{nullptr};
    if (!m || !m->elements) {
        st->err = 1637;
        return t;
    }
    const uint64_t cells = std::min<uint64_t>(m->capacity, m->storage / ELEMENT_SIZE);
    Table probe{m->elements};
    if (cells < 2 || probe.ctl().buckets == 0 || cells_for(probe.ctl().buckets) > cells) {
        st->err = 1637;
        return t;
    }
    return probe;
}

void set_count(ArrayHdr* m, uint32_t used) {
    m->dims[0] = used;
    m->count = used;
}

// Keys are equal without regard to case: single-byte characters compare
// lower-cased, double-byte characters byte for byte.
bool same_key(const strings::AnsiRules& r, const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n;) {
        const uint8_t x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
        if (r.lead && r.lead[x] && i + 1 < n) {
            if (x != y || a[i + 1] != b[i + 1]) return false;
            i += 2;
            continue;
        }
        if (x != y && r.lower[x] != r.lower[y]) return false;
        ++i;
    }
    return true;
}

uint32_t hash_with(const uint8_t* lower, const char* key, size_t len) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < len; ++i) {
        h ^= lower[static_cast<uint8_t>(key[i])];
        h *= 16777619u;
    }
    return h;
}

// The bucket holding the key (0 when absent, *freeB then the bucket where
// it would go).
uint32_t locate(State* st, const Table& t, const strings::AnsiRules& r, uint32_t hash, const char* key,
                size_t len, uint32_t* freeB) {
    for (uint32_t b = t.home(hash);; b = t.step(b)) {
        Cell* k = t.key(b);
        if (k->type == 0) {
            if (freeB) *freeB = b;
            return 0;
        }
        const KeyMeta& m = Table::meta(k);
        if (m.hash == hash && m.len == len && same_key(r, heap_ptr(st, k->str), key, len)) return b;
    }
}

// Moves every pair into a table of `buckets` buckets, keeping their order.
bool grow(State* st, ArrayHdr* m, uint64_t buckets) {
    if (buckets >= 0x7FFFFFFF) {
        st->err = 1644;
        return false;
    }
    const uint64_t cells = cells_for(buckets);
    uint8_t* fresh = arr_storage_alloc(st, cells);
    if (!fresh) return false;
    Table from{m->elements}, to{fresh};
    to.ctl().buckets = static_cast<uint32_t>(buckets);
    for (uint32_t b = from.ctl().head; b;) {
        const uint32_t next = from.meta(b).next;
        uint32_t slot = to.home(from.meta(b).hash);
        while (to.key(slot)->type) slot = to.step(slot);
        memcpy(to.key(slot), from.key(b), ELEMENT_SIZE);
        memcpy(to.value(slot), from.value(b), ELEMENT_SIZE);
        to.link_last(slot);
        b = next;
    }
    to.ctl().used = from.ctl().used;
    arr_storage_set(m, fresh, static_cast<uint32_t>(cells));   // the old cells were moved, not copied
    return true;
}

// Copies every key or value into a new array, in the order the keys were
// added or sorted by key, and that order reversed when `descending`.
bool pairs_array(State* st, ArrayHdr* m, Cell* out, bool values, bool sorted, bool descending) {
    cell_init(out, 0);
    Table t = table_of(st, m);
    if (!t.base) return false;
    std::vector<uint32_t> order;
    try {
        order.reserve(t.ctl().used);
        for (uint32_t b = t.ctl().head; b; b = t.meta(b).next) order.push_back(b);
    } catch (const std::bad_alloc&) {
        return st->err = 1588, false;
    }
    if (sorted) {
        std::stable_sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
            return strings::locale_compare(st, heap_ptr(st, t.key(x)->str), heap_ptr(st, t.key(y)->str), true) < 0;
        });
    }
    if (descending) std::reverse(order.begin(), order.end());
    if (CreateMyArray(st, out, static_cast<uint32_t>(order.size()), 0, 0, 0, 0, ARR_GROWABLE, 1) == 0xFFFFFFFF)
        return false;
    for (size_t i = 0; i < order.size(); ++i) {
        Cell* dst = arr_elem(out->arr, static_cast<uint32_t>(i));
        const uint32_t b = order[i];
        bool ok;
        if (values) {
            ok = cell_copy(st, dst, t.value(b), CM_ELEMENT | CC_DUPSTRINGS | CC_VARIANT | CC_ADDREF);
        } else {
            const uint64_t h = heap_strdup(st, heap_ptr(st, t.key(b)->str), t.meta(b).len);
            if ((ok = h != 0)) {
                dst->type = TW_STRING;
                dst->str = h;
            } else {
                st->err = 3096;
            }
        }
        if (!ok) {
            cell_release(st, out, CM_BARE);
            cell_init(out, 0);
            return false;
        }
    }
    return true;
}

}  // namespace

uint32_t map_hash(State* st, const char* key, size_t len) {
    return hash_with(strings::ansi_rules(st).lower, key, len);
}

bool map_new(State* st, Cell* out, uint64_t pairs) {
    cell_init(out, 0);
    uint64_t buckets = st->itemMapSize ? st->itemMapSize : kDefaultMapSize;
    buckets = std::max<uint64_t>(buckets, (pairs * 6 + 4) / 5);
    if (buckets >= 0x7FFFFFFF) {
        st->err = 1644;
        return false;
    }
    if (CreateMyArray(st, out, 0, 0, 0, 0, 0, 0, 1) == 0xFFFFFFFF) return false;
    uint8_t* cells = arr_storage_alloc(st, cells_for(buckets));
    if (!cells) {
        cell_release(st, out, CM_BARE);
        cell_init(out, 0);
        return false;
    }
    ArrayHdr* m = out->arr;
    arr_storage_set(m, cells, static_cast<uint32_t>(cells_for(buckets)));
    m->ndims = 1;
    m->flags = ARR_MAP;
    set_count(m, 0);
    Table{cells}.ctl().buckets = static_cast<uint32_t>(buckets);
    return true;
}

Cell* map_find(State* st, ArrayHdr* m, const char* key, size_t len) {
    Table t = table_of(st, m);
    if (!t.base) return nullptr;
    const strings::AnsiRules r = strings::ansi_rules(st);
    const uint32_t b = locate(st, t, r, hash_with(r.lower, key, len), key, len, nullptr);
    return b ? t.value(b) : nullptr;
}

Cell* map_insert(State* st, ArrayHdr* m, const char* key, size_t len) {
    Table t = table_of(st, m);
    if (!t.base) return nullptr;
    const strings::AnsiRules r = strings::ansi_rules(st);
    const uint32_t hash = hash_with(r.lower, key, len);
    uint32_t freeB = 0;
    if (uint32_t b = locate(st, t, r, hash, key, len, &freeB)) return t.value(b);
    if ((uint64_t{t.ctl().used} + 1) * 6 > uint64_t{t.ctl().buckets} * 5) {
        if (!grow(st, m, uint64_t{t.ctl().buckets} * 2)) return nullptr;
        t = Table{m->elements};
        locate(st, t, r, hash, key, len, &freeB);
    }
    const uint64_t h = heap_strdup(st, key, len);
    if (!h) {
        st->err = 3096;
        return nullptr;
    }
    Cell* k = t.key(freeB);
    memset(k, 0, ELEMENT_SIZE);
    k->type = TW_STRING;
    k->str = h;
    t.meta(freeB).hash = hash;
    t.meta(freeB).len = static_cast<uint32_t>(len);
    t.link_last(freeB);
    set_count(m, ++t.ctl().used);
    return t.value(freeB);
}

bool map_remove(State* st, ArrayHdr* m, const char* key, size_t len) {
    Table t = table_of(st, m);
    if (!t.base) return false;
    const strings::AnsiRules r = strings::ansi_rules(st);
    uint32_t hole = locate(st, t, r, hash_with(r.lower, key, len), key, len, nullptr);
    if (!hole) return false;
    t.unlink(hole);
    cell_release(st, t.key(hole), CM_ELEMENT);
    cell_release(st, t.value(hole), CM_ELEMENT);
    memset(t.key(hole), 0, 2 * ELEMENT_SIZE);
    set_count(m, --t.ctl().used);
    // Keys after the hole that could live in it move back, so that every
    // key stays reachable from its home bucket without a free bucket between.
    for (uint32_t j = t.step(hole); t.key(j)->type; j = t.step(j)) {
        const uint32_t home = t.home(t.meta(j).hash);
        const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
        if (stays) continue;
        t.relink(j, hole);
        memcpy(t.key(hole), t.key(j), 2 * ELEMENT_SIZE);
        memset(t.key(j), 0, 2 * ELEMENT_SIZE);
        hole = j;
    }
    return true;
}

bool map_next(ArrayHdr* m, uint32_t* pos, Cell** key, Cell** value) {
    Table t{m->elements};
    const uint32_t b = *pos ? t.meta(*pos).next : t.ctl().head;
    if (!b) return false;
    *pos = b;
    *key = t.key(b);
    *value = t.value(b);
    return true;
}

bool map_to_array(State* st, ArrayHdr* m, Cell* out, bool values, bool sorted, bool descending) {
    return pairs_array(st, m, out, values, sorted, descending);
}

bool map_keys_array(State* st, ArrayHdr* m, Cell* out) { return pairs_array(st, m, out, false, false, false); }

}  // namespace items
