// The map hash table against a plain model: random adds, finds and removals
// in a table small enough for long probe runs and many growths, keys that
// differ only in case, the order keys were added, and a string heap that is
// whole once the map is released.
#include "fixture.h"
#include "library/items/maptable.h"
#include <map>
#include <random>
#include <vector>

namespace {

using namespace items;

class MapTable : public StateFixture {
protected:
    std::string Lower(std::string s) {
        for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        return s;
    }
    int32_t Value(Cell* v) { return v ? v->i : -1; }
};

TEST_F(MapTable, FnvHashOfTheLowerCasedBytes) {
    EXPECT_EQ(map_hash(st, "", 0), 2166136261u);
    EXPECT_EQ(map_hash(st, "a", 1), 0xE40C292Cu);   // FNV-1a of "a"
    EXPECT_EQ(map_hash(st, "A", 1), map_hash(st, "a", 1));
    EXPECT_EQ(map_hash(st, "Key", 3), map_hash(st, "kEY", 3));
}

TEST_F(MapTable, RandomOperationsAgainstAModel) {
    st->itemMapSize = 4;   // many collisions and growths
    Cell m;
    ASSERT_TRUE(map_new(st, &m, 0));
    std::mt19937 rng(7);
    std::map<std::string, int32_t> model;              // lower-cased key -> value
    std::vector<std::string> order;                    // lower-cased keys in the order added
    for (int step = 0; step < 20000; ++step) {
        std::string key = "k" + std::to_string(rng() % 600);
        if (rng() % 2) key[0] = 'K';
        const std::string lk = Lower(key);
        switch (rng() % 3) {
        case 0: {
            Cell* v = map_insert(st, m.arr, key.data(), key.size());
            ASSERT_NE(v, nullptr);
            const bool isNew = model.find(lk) == model.end();
            EXPECT_EQ(v->type == 0, isNew) << key;
            memset(v, 0, ELEMENT_SIZE);   // an element cell: 56 bytes
            v->type = TW_INT;
            v->i = step;
            model[lk] = step;
            if (isNew) order.push_back(lk);
            break;
        }
        case 1: {
            Cell* v = map_find(st, m.arr, key.data(), key.size());
            auto it = model.find(lk);
            EXPECT_EQ(Value(v), it == model.end() ? -1 : it->second) << key;
            break;
        }
        default: {
            const bool had = model.erase(lk) > 0;
            EXPECT_EQ(map_remove(st, m.arr, key.data(), key.size()), had) << key;
            if (had) order.erase(std::find(order.begin(), order.end(), lk));
            break;
        }
        }
        ASSERT_EQ(m.arr->count, model.size());
    }
    for (const auto& [k, v] : model) EXPECT_EQ(Value(map_find(st, m.arr, k.data(), k.size())), v) << k;
    uint32_t pos = 0;
    Cell *k, *v;
    size_t n = 0;
    while (map_next(m.arr, &pos, &k, &v)) {
        ASSERT_LT(n, order.size());
        EXPECT_EQ(Lower(cell_str(st, k)), order[n++]);
    }
    EXPECT_EQ(n, order.size());
    cell_release(st, &m, CM_BARE);
    char why[128];
    EXPECT_TRUE(heap_check(st, why, sizeof why)) << why;
}

TEST_F(MapTable, StringValuesRemovalsAndTheKeysArray) {
    Cell m;
    ASSERT_TRUE(map_new(st, &m, 1000));
    for (int i = 0; i < 5000; ++i) {
        const std::string key = "key number " + std::to_string(i);
        Cell* v = map_insert(st, m.arr, key.data(), key.size());
        ASSERT_NE(v, nullptr);
        v->type = TW_STRING;
        v->str = heap_strdup(st, key.data(), key.size());
    }
    for (int i = 0; i < 5000; i += 3) {
        const std::string key = "KEY NUMBER " + std::to_string(i);
        ASSERT_TRUE(map_remove(st, m.arr, key.data(), key.size()));
    }
    Cell keys;
    ASSERT_TRUE(map_keys_array(st, m.arr, &keys));
    EXPECT_EQ(keys.arr->count, 5000u - 1667u);
    EXPECT_STREQ(cell_str(st, arr_elem(keys.arr, 0)), "key number 1");
    cell_release(st, &keys, CM_BARE);
    cell_release(st, &m, CM_BARE);
    char why[128];
    EXPECT_TRUE(heap_check(st, why, sizeof why)) << why;
}

}  // namespace
