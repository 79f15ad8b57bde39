// MapCreate, MapKeyExist, MapKeyFind, MapKeyRemove, MapKeysGet and
// MapValuesGet. Keys are kept as ANSI text (a wide key is converted with the
// state's code page, as a map subscript is) and compared without regard to
// case; values keep their type.
#include "library/items/csv.h"
#include "library/items/maptable.h"

using namespace strings;

namespace items {
namespace {

// The key argument as ANSI text.
bool key_arg(State* st, const Cell& arg, std::string* key) { return value_text(st, &arg, key); }

// Copies a value into the result cell.
void result_value(State* st, Cell* result, const Cell* v) {
    cell_copy(st, result, v, CM_BARE | CC_DUPSTRINGS | CC_VARIANT | CC_ADDREF);
}

// Stores a copy of `value` under `key` (replacing the value it had).
bool map_store(State* st, ArrayHdr* m, const std::string& key, const Cell* value) {
    Cell fresh;
    if (!cell_copy(st, &fresh, value, CM_BARE | CC_DUPSTRINGS | CC_VARIANT | CC_ADDREF)) return false;
    Cell* slot = map_insert(st, m, key.data(), key.size());
    if (!slot) return cell_release(st, &fresh, CM_BARE), false;
    cell_release(st, slot, CM_ELEMENT);
    memcpy(slot, &fresh, ELEMENT_SIZE);
    return true;
}

// MapCreate's list: pairs separated by the pair delimiter, key and value by
// the key-value delimiter, each part under the CSV field rules (blanks
// around it dropped, quotes for text holding a delimiter). Pairs that are
// empty are passed over; anything else that is not one key and one value
// is 1610.
template <class C>
void map_create(State* st, int nargs, Cell* result, Cell* args) {
    Env<C> env(st);
    csv::Delims<C> d;
    d.hasRecord = true;
    if (nargs < 2) d.field.unit[0] = C(',');   // an empty argument is tab, as in item lists
    else if (!items::read_delim(env, args[2], &d.field)) return;
    if (nargs >= 3 && !items::read_delim(env, args[3], &d.record)) return;
    auto is = [](const Delim<C>& x, C c) { return x.len == 1 && x.unit[0] == c; };
    if ((d.field.len == d.record.len && d.field.unit[0] == d.record.unit[0] && d.field.unit[1] == d.record.unit[1]) ||
        is(d.field, C(' ')) || is(d.record, C(' ')) || is(d.field, C('"')) || is(d.record, C('"')))
        return void(st->err = 1807);
    const Text<C> list = nargs >= 1 ? env.text(args[1]) : Text<C>();

    // First pass: check the list and count its pairs; second: store them.
    struct Part {
        size_t b, e;
    };
    std::vector<Part> parts;
    Cell out;
    cell_init(&out, 0);
    for (int pass = 0; pass < 2; ++pass) {
        csv::Scanner<C> scan(list, d);
        uint64_t pairs = 0;
        Part p;
        bool recordEnd;
        for (csv::Status s; (s = scan.next(&p.b, &p.e, &recordEnd)) != csv::END;) {
            if (s != csv::FIELD) return drop_result(st, &out), void(st->err = 1610);
            parts.push_back(p);
            if (!recordEnd) continue;
            const bool blankPair = parts.size() == 1 && [&] {
                for (size_t i = p.b; i < p.e; ++i)
                    if (!d.blank(list.p[i])) return false;
                return true;
            }();
            if (parts.size() != 2 && !blankPair) return drop_result(st, &out), void(st->err = 1610);
            if (parts.size() == 2) {
                ++pairs;
                if (pass == 1) {
                    std::basic_string<C> key, value;
                    csv::append_value(key, list, parts[0].b, parts[0].e, d, false);
                    csv::append_value(value, list, parts[1].b, parts[1].e, d, false);
                    Cell kc, vc;
                    cell_init(&kc, 0);
                    cell_init(&vc, 0);
                    std::string akey;
                    bool ok = set_element_text(st, &kc, key.data(), key.size()) &&
                              set_element_text(st, &vc, value.data(), value.size()) && key_arg(st, kc, &akey) &&
                              map_store(st, out.arr, akey, &vc);
                    cell_release(st, &kc, CM_BARE);
                    cell_release(st, &vc, CM_BARE);
                    if (!ok) return drop_result(st, &out);
                }
            }
            parts.clear();
        }
        if (pass == 0 && !map_new(st, &out, pairs)) return;
    }
    *result = out;
}

}  // namespace

void fn_mapcreate(State* st, int nargs, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { map_create<decltype(unit)>(st, nargs, result, args); });
}

void fn_mapkeyexist(State* st, int, Cell* result, Cell* args, bool) {
    ArrayHdr* m = map_arg(st, args[1]);
    std::string key;
    if (!m || !key_arg(st, args[2], &key)) return;
    cell_set_int(st, result, map_find(st, m, key.data(), key.size()) ? 1 : 0);
}

// MapKeyFind(m, key [, default]): the key's value, else default (else "").
void fn_mapkeyfind(State* st, int nargs, Cell* result, Cell* args, bool) {
    ArrayHdr* m = map_arg(st, args[1]);
    std::string key;
    if (!m || !key_arg(st, args[2], &key)) return;
    if (const Cell* v = map_find(st, m, key.data(), key.size())) return result_value(st, result, v);
    if (nargs >= 3) return result_value(st, result, &args[3]);
    cell_set_str(st, result, "", 0);
}

void fn_mapkeyremove(State* st, int, Cell* result, Cell* args, bool) {
    ArrayHdr* m = map_arg(st, args[1]);
    std::string key;
    if (!m || !key_arg(st, args[2], &key)) return;
    cell_set_int(st, result, map_remove(st, m, key.data(), key.size()) ? 1 : 0);
}

// MapKeysGet(m, order [, direction]) and MapValuesGet(m, order [,
// direction]): the keys or the values; order @UNSORTED (0) in the order the
// keys were added, @SORTED (1) in the order of the keys, case ignored;
// direction @ASCENDING (0, the default) or @DESCENDING (16, reversed).
static void pairs_get(State* st, int nargs, Cell* result, Cell* args, bool values) {
    ArrayHdr* m = map_arg(st, args[1]);
    if (!m) return;
    const bool descending = nargs >= 3 && (args[3].i & 16);
    map_to_array(st, m, result, values, (args[2].i & 1) != 0, descending);
}

void fn_mapkeysget(State* st, int nargs, Cell* result, Cell* args, bool) { pairs_get(st, nargs, result, args, false); }
void fn_mapvaluesget(State* st, int nargs, Cell* result, Cell* args, bool) { pairs_get(st, nargs, result, args, true); }

}  // namespace items
