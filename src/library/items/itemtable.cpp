// The item-list, array and map family's built-in table, its IntControl
// request and its tear-down.
#include "dispatch.h"
#include "keyword_ids.h"
#include "library/core/intcontrol.h"
#include "library/items/arrcompare.h"
#include "library/items/itemfuncs.h"

namespace items {

// 120: the bucket count of a new map (default 64; a map sized for the pairs
// it is loaded with takes more). Values from 1 to 16777216 set it; others
// only read it.
void ic_map_size(State* st, Cell* result, Cell* p) {
    const int previous = st->itemMapSize ? static_cast<int>(st->itemMapSize) : 64;
    const int size = ic_int(st, &p[0]);
    if (size >= 1 && size <= 16777216) st->itemMapSize = static_cast<uint32_t>(size);
    ic_previous(st, result, previous);
}

void teardown(State* st) { compare_teardown(st); }

}  // namespace items

using namespace items;

// Built-ins that only read their arguments (through Env::text and the number
// fields), so they may be given a variable's string without a copy.
extern const uint32_t g_itemReaders[] = {
    KW_ITEMCOUNT, KW_ITEMEXTRACT, KW_ITEMINSERT, KW_ITEMREMOVE, KW_ITEMREPLACE,
    KW_ITEMLOCATE, KW_ITEMLOCATEWILD, 0,
};

extern const BuiltinEntry g_itemBuiltins[] = {
    {KW_ITEMCOUNT, fn_itemcount},
    {KW_ITEMEXTRACT, fn_itemextract},
    {KW_ITEMINSERT, fn_iteminsert},
    {KW_ITEMREMOVE, fn_itemremove},
    {KW_ITEMREPLACE, fn_itemreplace},
    {KW_ITEMLOCATE, fn_itemlocate},
    {KW_ITEMLOCATEWILD, fn_itemlocatewild},
    {KW_ITEMSORT, fn_itemsort},
    {KW_ITEMSORTNC, fn_itemsortnc},
    {KW_ITEMCOUNTCSV, fn_itemcountcsv},
    {KW_ITEMEXTRACTCSV, fn_itemextractcsv},
    {KW_ARRAYIZE, fn_arrayize},
    {KW_ARRAYFROMSTR, fn_arrayfromstr},
    {KW_ARRAYTOSTR, fn_arraytostr},
    {KW_ARRAYITEMIZE, fn_arrayitemize},
    {KW_ARRINITIALIZE, fn_arrinitialize},
    {KW_ARRAYINSERT, fn_arrayinsert},
    {KW_ARRAYREMOVE, fn_arrayremove},
    {KW_ARRAYREDIM, fn_arrayredim},
    {KW_ARRAYREVERSE, fn_arrayreverse},
    {KW_ARRAYSWAPELEMENTS, fn_arrayswapelements},
    {KW_ARRAYSORT, fn_arraysort},
    {KW_ARRAYSEARCH, fn_arraysearch},
    {KW_ARRAYLOCATE, fn_arraylocate},
    {KW_ARRAYFILEGET, fn_arrayfileget},
    {KW_ARRAYFILEGETCSV, fn_arrayfilegetcsv},
    {KW_ARRAYFILEPUT, fn_arrayfileput},
    {KW_ARRAYFILEPUTCSV, fn_arrayfileputcsv},
    {KW_MAPCREATE, fn_mapcreate},
    {KW_MAPKEYEXIST, fn_mapkeyexist},
    {KW_MAPKEYFIND, fn_mapkeyfind},
    {KW_MAPKEYREMOVE, fn_mapkeyremove},
    {KW_MAPKEYSGET, fn_mapkeysget},
    {KW_MAPVALUESGET, fn_mapvaluesget},
    {KW_MAPFILEGETCSV, fn_mapfilegetcsv},
    {KW_MAPFILEPUTCSV, fn_mapfileputcsv},
    {0, nullptr},
};

void items_teardown(State* st) { items::teardown(st); }
