// Names and paths: FilePath, FileRoot, FileExtension, FileBaseName,
// FileFullName, FileNameLong, FileNameShort, FileLocate, FileMapName,
// FileNameEval1, FileNameEval2.
#include "library/files/filelist.h"

namespace {

// The argument as a long path; false with the error set.
bool arg_path(State* st, const Cell* arg, WidePath* p) { return file_long_path(st, arg, p); }

// The absolute form of the name argument; a "\\?\" prefix the long-path
// routine added is taken off again (the name did not have it).
bool full_path(State* st, const Cell* arg, std::wstring* out) {
    WidePath p;
    if (!file_long_path(st, arg, &p)) return false;
    if (!absolute_path(p.str(), out)) {
        st->err = 1424;
        return false;
    }
    const wchar_t* given = (arg->type & TW_UNICODE) ? cell_wstr(st, arg) : L"";
    const size_t added = WidePath::path_prefix(given) ? 0 : WidePath::path_prefix(out->c_str());
    if (added == 8) *out = L"\\" + out->substr(8);
    else if (added == 4) out->erase(0, 4);
    return true;
}

// Splits the name part (after the directory) into root and extension.
void root_ext(const std::wstring& path, std::wstring* root, std::wstring* ext) {
    const std::wstring name = path.substr(name_start(path));
    const size_t dot = name.rfind(L'.');
    *root = dot == std::wstring::npos ? name : name.substr(0, dot);
    *ext = dot == std::wstring::npos ? L"" : name.substr(dot + 1);
}

bool refuse_wildcards(State* st, const WidePath& p) {
    if (!has_wildcards(p.c_str() + p.prefix())) return false;
    st->err = 3322;
    return true;
}

// GetLongPathNameW / GetShortPathNameW of an existing name.
template <class Fn>
void converted_name(State* st, Cell* result, const Cell* arg, bool wide, Fn fn) {
    WidePath p;
    if (!arg_path(st, arg, &p) || refuse_wildcards(st, p)) return;
    if (path_attributes(p.c_str()) == INVALID_FILE_ATTRIBUTES) {
        st->err = 1423;
        return;
    }
    std::wstring out(LONG_PATH_MAX + 1, L'\0');
    const DWORD n = fn(p.c_str(), &out[0], static_cast<DWORD>(out.size()));
    if (n == 0 || n > LONG_PATH_MAX) {
        st->err = 1424;
        return;
    }
    out.resize(n);
    set_text_result(st, result, out, wide);
}

void map_name(State* st, Cell* result, Cell* args, bool wide) {
    WidePath file, pat;
    if (!arg_path(st, &args[1], &file) || !arg_path(st, &args[2], &pat)) return;
    const size_t fcut = name_start(file.str()), pcut = name_start(pat.str());
    const std::wstring dir = pcut ? pat.str().substr(0, pcut) : file.str().substr(0, fcut);
    std::wstring pattern = pat.str().substr(pcut);
    if (pattern.empty()) pattern = L"*.*";
    set_text_result(st, result, dir + derive_name(file.str().substr(fcut), pattern), wide);
}

}  // namespace

// FilePath(filename): drive and directory of the full name, with the final "\".
void fn_filepath(State* st, int, Cell* result, Cell* args, bool wide) {
    std::wstring full;
    if (!full_path(st, &args[1], &full)) return;
    set_text_result(st, result, full.substr(0, name_start(full)), wide);
}

// FileRoot(filename): the name without directory and extension.
void fn_fileroot(State* st, int, Cell* result, Cell* args, bool wide) {
    WidePath p;
    if (!arg_path(st, &args[1], &p)) return;
    std::wstring root, ext;
    root_ext(p.str(), &root, &ext);
    set_text_result(st, result, root, wide);
}

// FileExtension(filename): the extension without the point.
void fn_fileextension(State* st, int, Cell* result, Cell* args, bool wide) {
    WidePath p;
    if (!arg_path(st, &args[1], &p)) return;
    std::wstring root, ext;
    root_ext(p.str(), &root, &ext);
    set_text_result(st, result, ext, wide);
}

// FileBaseName(filename [, flag]): the name without its directory; flag 1
// also drops the extension.
void fn_filebasename(State* st, int nargs, Cell* result, Cell* args, bool wide) {
    WidePath p;
    if (!arg_path(st, &args[1], &p)) return;
    std::wstring root, ext;
    root_ext(p.str(), &root, &ext);
    const bool noExt = nargs >= 2 && args[2].i == 1;
    set_text_result(st, result, noExt || ext.empty() ? root : root + L"." + ext, wide);
}

// FileFullName(filename): the absolute name.
void fn_filefullname(State* st, int, Cell* result, Cell* args, bool wide) {
    std::wstring full;
    if (!full_path(st, &args[1], &full)) return;
    set_text_result(st, result, full, wide);
}

// FileNameEval1(filename): the absolute name of a name without wildcards.
void fn_filenameeval1(State* st, int, Cell* result, Cell* args, bool wide) {
    WidePath p;
    std::wstring full;
    if (!arg_path(st, &args[1], &p) || refuse_wildcards(st, p) || !full_path(st, &args[1], &full)) return;
    set_text_result(st, result, full, wide);
}

void fn_filenamelong(State* st, int, Cell* result, Cell* args, bool wide) {
    converted_name(st, result, &args[1], wide, GetLongPathNameW);
}

void fn_filenameshort(State* st, int, Cell* result, Cell* args, bool wide) {
    converted_name(st, result, &args[1], wide, GetShortPathNameW);
}

// FileLocate(filename): the full name found on the system's search path
// (current directory, system directories, PATH); "" when not found.
void fn_filelocate(State* st, int, Cell* result, Cell* args, bool wide) {
    WidePath p;
    if (!arg_path(st, &args[1], &p)) return;
    std::wstring out(LONG_PATH_MAX + 1, L'\0');
    const DWORD n = SearchPathW(nullptr, p.c_str(), nullptr, static_cast<DWORD>(out.size()), &out[0], nullptr);
    out.resize(n && n <= LONG_PATH_MAX ? n : 0);
    set_text_result(st, result, out, wide);
}

// FileMapName(filename, mapping) and FileNameEval2(filename, mapping): the
// name the mapping pattern gives for the file (directory of the mapping when
// it has one, else the file's own).
void fn_filemapname(State* st, int, Cell* result, Cell* args, bool wide) { map_name(st, result, args, wide); }
void fn_filenameeval2(State* st, int, Cell* result, Cell* args, bool wide) { map_name(st, result, args, wide); }
