// FileInfoToArray and DirInfoToArray: what the directory search knows about
// the entries of a list, as a two-dimensional array of six columns. Row 0
// holds the entry count (column 0) and their total size (column 1); each
// further row one entry: 0 name (the full path with flags 1), 1 size, 2 last
// write, 3 last access and 4 creation time (YmdHms, local unless the
// universal-time setting is on), 5 the attribute letters "RASH".
#include "library/files/attrstring.h"
#include "library/files/filelist.h"
#include <vector>

namespace {

constexpr uint32_t kColumns = 6;

// Stores a value cell into element (row, col); the element takes it over.
void put(State* st, ArrayHdr* a, uint32_t row, uint32_t col, Cell* c) {
    cell_copy(st, arr_elem(a, row * kColumns + col), c, CM_ELEMENT);
}

bool put_text(State* st, ArrayHdr* a, uint32_t row, uint32_t col, const std::wstring& s) {
    Cell c;
    cell_init(&c);
    if (!set_text_result(st, &c, s, false)) return false;
    put(st, a, row, col, &c);
    return true;
}

void put_number(State* st, ArrayHdr* a, uint32_t row, uint32_t col, uint64_t v) {
    Cell c;
    cell_init(&c);
    size_result(st, &c, v, 0, true);
    put(st, a, row, col, &c);
}

void info_array(State* st, int nargs, Cell* result, const Cell* list, ListKind kind) {
    const bool full = nargs >= 2 && (list[1].i & 1);
    ListOptions opt;
    opt.kind = kind;
    opt.allowEmpty = true;
    opt.hiddenRule = true;
    std::vector<FoundEntry> found;
    if (!for_each_entry(st, cell_wstr(st, list), opt, [&](const FoundEntry& e) {
            found.push_back(e);
            return true;
        }))
        return;
    // The array is released on every way out but the last, also when a name
    // or a time cannot be made for want of memory (std::bad_alloc, 1588).
    struct Held {
        State* st;
        Cell c;
        ~Held() { cell_release(st, &c, CM_BARE); }
    } held{st, {}};
    Cell& arr = held.c;
    cell_init(&arr);
    if (CreateMyArray(st, &arr, static_cast<uint32_t>(found.size() + 1), kColumns, 0, 0, 0, 0, 2) == 0xFFFFFFFF)
        return;
    ArrayHdr* a = arr.arr;
    uint64_t total = 0;
    bool ok = true;
    for (uint32_t i = 0; i < found.size() && ok; ++i) {
        const WIN32_FIND_DATAW& d = found[i].data;
        const uint64_t size = (uint64_t(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
        total += size;
        std::wstring name = d.cFileName;
        if (full) name = absolute_or_given(found[i].path);
        wchar_t letters[5];
        attr_letters(d.dwFileAttributes, letters);
        const uint32_t row = i + 1;
        ok = put_text(st, a, row, 0, name) && put_text(st, a, row, 2, file_time_text(st, d.ftLastWriteTime)) &&
             put_text(st, a, row, 3, file_time_text(st, d.ftLastAccessTime)) &&
             put_text(st, a, row, 4, file_time_text(st, d.ftCreationTime)) && put_text(st, a, row, 5, letters);
        put_number(st, a, row, 1, size);
    }
    if (!ok) return;
    put_number(st, a, 0, 0, found.size());
    put_number(st, a, 0, 1, total);
    cell_release(st, result, CM_BARE);
    *result = arr;
    cell_init(&arr);
}

}  // namespace

// FileInfoToArray(file-list [, flags]) and DirInfoToArray(dir-list [, flags]).
void fn_fileinfotoarray(State* st, int nargs, Cell* r, Cell* a, bool) { info_array(st, nargs, r, &a[1], ListKind::Files); }
void fn_dirinfotoarray(State* st, int nargs, Cell* r, Cell* a, bool) { info_array(st, nargs, r, &a[1], ListKind::Dirs); }
