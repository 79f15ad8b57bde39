// Attributes of files and directories: FileAttrGet, FileAttrGetEx,
// FileAttrSet, FileAttrSetEx and the Dir equivalents.
#include "library/files/attrstring.h"
#include "library/files/filelist.h"

namespace {

// The attributes of the one file or directory named by the argument, or
// INVALID_FILE_ATTRIBUTES with `missing` set when it is absent or of the
// other kind.
DWORD attrs_of(State* st, const Cell* arg, bool dir, int missing) {
    WidePath p;
    if (!file_long_path(st, arg, &p)) return INVALID_FILE_ATTRIBUTES;
    const DWORD a = path_attributes(p.c_str());
    if (dir ? !is_dir_attr(a) : !is_file_attr(a)) {
        st->err = static_cast<uint16_t>(missing);
        return INVALID_FILE_ATTRIBUTES;
    }
    return a;
}

void get_letters(State* st, Cell* result, const Cell* arg, bool dir, int missing) {
    const DWORD a = attrs_of(st, arg, dir, missing);
    if (a == INVALID_FILE_ATTRIBUTES) return;
    wchar_t text[5];
    attr_letters(a, text);
    const std::wstring w(text);
    set_text_result(st, result, w, false);
}

void get_bits(State* st, Cell* result, const Cell* arg, bool dir, int missing) {
    const DWORD a = attrs_of(st, arg, dir, missing);
    if (a != INVALID_FILE_ATTRIBUTES) cell_set_int(st, result, static_cast<int32_t>(a));
}

// Applies set/clear masks to every entry of the list.
void set_masks(State* st, Cell* result, const Cell* list, bool dir, DWORD set, DWORD clear, int failure) {
    ListOptions opt;
    opt.kind = dir ? ListKind::Dirs : ListKind::Files;
    const bool ok = for_each_entry(st, cell_wstr(st, list), opt, [&](const FoundEntry& e) {
        if (apply_attrs(e.path.c_str(), set, clear)) return true;
        platform_error(st, "SetFileAttributes", GetLastError());
        st->err = static_cast<uint16_t>(failure);
        return false;
    });
    cell_set_int(st, result, ok ? 1 : 0);
}

void set_letters(State* st, Cell* result, Cell* args, bool dir, int failure) {
    DWORD set, clear;
    if (!parse_attr_string(arg_text(st, &args[2]).c_str(), &set, &clear)) {
        st->err = static_cast<uint16_t>(failure);
        return;
    }
    set_masks(st, result, &args[1], dir, set, clear, failure);
}

// Ex: attributes as a number; mode 0 replaces the settable attributes, 1 adds, 2 removes.
void set_number(State* st, Cell* result, Cell* args, bool dir, int failure) {
    const DWORD bits = static_cast<DWORD>(args[2].type & TW_INT64 ? args[2].i64 : args[2].i);
    const int mode = args[3].i;
    if (mode < 0 || mode > 2) {
        st->err = static_cast<uint16_t>(failure);
        return;
    }
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY |
                           FILE_ATTRIBUTE_OFFLINE;
    const DWORD set = mode == 2 ? 0 : bits & settable;
    const DWORD clear = mode == 0 ? settable & ~bits : mode == 2 ? bits & settable : 0;
    set_masks(st, result, &args[1], dir, set, clear, failure);
}

}  // namespace

void fn_fileattrget(State* st, int, Cell* r, Cell* a, bool) { get_letters(st, r, &a[1], false, 1083); }
void fn_dirattrget(State* st, int, Cell* r, Cell* a, bool) { get_letters(st, r, &a[1], true, 1421); }
void fn_fileattrgetex(State* st, int, Cell* r, Cell* a, bool) { get_bits(st, r, &a[1], false, 1083); }
void fn_dirattrgetex(State* st, int, Cell* r, Cell* a, bool) { get_bits(st, r, &a[1], true, 1421); }
void fn_fileattrset(State* st, int, Cell* r, Cell* a, bool) { set_letters(st, r, a, false, 1086); }
void fn_dirattrset(State* st, int, Cell* r, Cell* a, bool) { set_letters(st, r, a, true, 1573); }
void fn_fileattrsetex(State* st, int, Cell* r, Cell* a, bool) { set_number(st, r, a, false, 1086); }
void fn_dirattrsetex(State* st, int, Cell* r, Cell* a, bool) { set_number(st, r, a, true, 1573); }
