// How ArraySort and ArraySearch compare elements, by their options:
// @LOGICALSORT (4) the text forms by the shell's logical comparison
// (StrCmpLogicalW: digits compare as numbers, case is ignored);
// @STRINGSORT (8) the wide text forms by code units; neither, the
// evaluator's relational operators (numbers compare as numbers).
#pragma once
#include "library/items/items.h"

namespace items {

enum : int32_t { OPT_SORTED = 1, OPT_NOCASE = 2, OPT_LOGICAL = 4, OPT_STRING = 8, OPT_DESCENDING = 16 };

class Comparer {
public:
    // False with 1193 when @LOGICALSORT is asked for and the system has no
    // logical comparison.
    bool init(State* st, int32_t options);
    bool by_text() const { return mode_ != VALUE; }
    // The text form of a value for the text modes (3820 when it has none).
    bool key(const Cell* v, std::wstring* out) const { return value_text(st_, v, out); }
    // -1, 0 or 1: values (VALUE mode, errors set in the state) or their keys.
    bool compare(const Cell* a, const Cell* b, int* cmp) const;
    int compare(const std::wstring& a, const std::wstring& b) const;

private:
    enum { VALUE, STRING, LOGICAL } mode_ = VALUE;
    State* st_ = nullptr;
    bool   nocase_ = false;
    int(WINAPI* logical_)(LPCWSTR, LPCWSTR) = nullptr;
};

// Releases the shell library the logical comparison came from (tear-down).
void compare_teardown(State* st);

}  // namespace items
