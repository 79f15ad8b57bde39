// The element comparisons of ArraySort and ArraySearch (arrcompare.h).
#include "library/items/arrcompare.h"

namespace items {

bool Comparer::init(State* st, int32_t options) {
    st_ = st;
    nocase_ = (options & OPT_NOCASE) != 0;
    mode_ = (options & OPT_LOGICAL) ? LOGICAL : (options & OPT_STRING) ? STRING : VALUE;
    if (mode_ != LOGICAL) return true;
    // Loaded on first use and kept for the life of the state.
    if (!st->itemCmpLogical) {
        if (!st->itemShlwapi) st->itemShlwapi = LoadLibraryW(L"SHLWAPI.DLL");
        if (st->itemShlwapi)
            st->itemCmpLogical = reinterpret_cast<void*>(GetProcAddress(st->itemShlwapi, "StrCmpLogicalW"));
        if (!st->itemCmpLogical) return st->err = 1193, false;
    }
    logical_ = reinterpret_cast<int(WINAPI*)(LPCWSTR, LPCWSTR)>(st->itemCmpLogical);
    return true;
}

bool Comparer::compare(const Cell* a, const Cell* b, int* cmp) const {
    return compare_order(st_, a, b, nocase_, cmp);
}

int Comparer::compare(const std::wstring& a, const std::wstring& b) const {
    if (mode_ == LOGICAL) {
        const int c = logical_(a.c_str(), b.c_str());
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    const int c = a.compare(b);   // code units
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

void compare_teardown(State* st) {
    if (st->itemShlwapi) FreeLibrary(st->itemShlwapi);
    st->itemShlwapi = nullptr;
    st->itemCmpLogical = nullptr;
}

}  // namespace items
