// The built-in functions of the item-list, array and map family, and the
// family's IntControl request.
#pragma once
#include "state.h"

namespace items {

#define ITEM_FN(name) void fn_##name(State* st, int nargs, Cell* result, Cell* args, bool wide);
ITEM_FN(itemcount) ITEM_FN(itemextract) ITEM_FN(iteminsert) ITEM_FN(itemremove) ITEM_FN(itemreplace)
ITEM_FN(itemlocate) ITEM_FN(itemlocatewild) ITEM_FN(itemsort) ITEM_FN(itemsortnc)
ITEM_FN(itemcountcsv) ITEM_FN(itemextractcsv)
ITEM_FN(arrayize) ITEM_FN(arrayfromstr) ITEM_FN(arraytostr) ITEM_FN(arrayitemize) ITEM_FN(arrinitialize)
ITEM_FN(arrayinsert) ITEM_FN(arrayremove) ITEM_FN(arrayredim) ITEM_FN(arrayreverse) ITEM_FN(arrayswapelements)
ITEM_FN(arraysort) ITEM_FN(arraysearch) ITEM_FN(arraylocate)
ITEM_FN(arrayfileget) ITEM_FN(arrayfilegetcsv) ITEM_FN(arrayfileput) ITEM_FN(arrayfileputcsv)
ITEM_FN(mapcreate) ITEM_FN(mapkeyexist) ITEM_FN(mapkeyfind) ITEM_FN(mapkeyremove) ITEM_FN(mapkeysget)
ITEM_FN(mapvaluesget) ITEM_FN(mapfilegetcsv) ITEM_FN(mapfileputcsv)
#undef ITEM_FN

// IntControl 120: the bucket count of a new map.
void ic_map_size(State* st, Cell* result, Cell* p);

}  // namespace items
