// Directories: DirMake, DirRemove, DirChange, DirExist, DirRename, DirGet,
// DirHome, DirWindows, DirSize.
#include "library/files/filelist.h"
#include <vector>

namespace {

// A directory name with a final "\".
std::wstring with_slash(std::wstring d) {
    if (!d.empty() && d.back() != L'\\' && d.back() != L'/') d += L'\\';
    return d;
}

// Creates the directory and any missing parents. False with the system error.
bool make_dirs(const std::wstring& path) {
    if (CreateDirectoryW(path.c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_PATH_NOT_FOUND) return false;
    size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos || cut <= WidePath::path_prefix(path.c_str())) return false;
    const std::wstring parent = path.substr(0, cut);
    if (!is_dir_attr(path_attributes(parent.c_str())) && !make_dirs(parent)) return false;
    return CreateDirectoryW(path.c_str(), nullptr) != 0;
}

// Bytes of the files in `dir` (and below it with `deep`). The depth of the
// tree is walked with an explicit list, not by recursion.
uint64_t tree_size(const std::wstring& top, bool deep, bool hidden) {
    uint64_t total = 0;
    std::vector<std::wstring> todo{with_slash(top)};
    while (!todo.empty()) {
        const std::wstring dir = todo.back();
        todo.pop_back();
        WIN32_FIND_DATAW fd;
        ScopedFind find((dir + L"*").c_str(), &fd);
        if (!find.ok()) continue;
        do {
            if (!hidden && (fd.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) continue;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (deep && wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L"..") &&
                    !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    todo.push_back(dir + fd.cFileName + L"\\");
                continue;
            }
            total += (uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        } while (find.next(&fd));
    }
    return total;
}

bool arg_dir(State* st, const Cell* arg, WidePath* p) { return file_long_path(st, arg, p); }

}  // namespace

// DirMake(path): creates the directory with any missing parents; 2204 when
// it exists already, 1029 when it cannot be created.
void fn_dirmake(State* st, int, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, 0);
    WidePath p;
    if (!arg_dir(st, &args[1], &p)) return;
    std::wstring d = p.str();
    while (d.size() > 1 && (d.back() == L'\\' || d.back() == L'/') && d[d.size() - 2] != L':') d.pop_back();
    if (path_attributes(d.c_str()) != INVALID_FILE_ATTRIBUTES) {
        st->err = 2204;
        return;
    }
    if (!make_dirs(d)) {
        platform_error(st, "CreateDirectory", GetLastError());
        st->err = 1029;
        return;
    }
    cell_set_int(st, result, 1);
}

// DirRemove(dir-list): removes empty directories; 2203 for one that is not
// empty, 1030 for any other failure (a name that is not a directory too).
void fn_dirremove(State* st, int, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, 0);
    const wchar_t* list = cell_wstr(st, &args[1]);
    if (!names_exist(st, list, true, 1030)) return;
    ListOptions opt;
    opt.kind = ListKind::Dirs;
    const bool ok = for_each_entry(st, list, opt, [&](const FoundEntry& e) {
        if (RemoveDirectoryW(e.path.c_str())) return true;
        const DWORD code = GetLastError();
        platform_error(st, "RemoveDirectory", code);
        st->err = code == ERROR_DIR_NOT_EMPTY ? 2203 : 1030;
        return false;
    });
    if (ok) cell_set_int(st, result, 1);
}

// DirChange(path): makes it the current directory (and its drive the current drive).
void fn_dirchange(State* st, int, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, 0);
    WidePath p;
    if (!arg_dir(st, &args[1], &p)) return;
    if (!SetCurrentDirectoryW(p.c_str())) {
        platform_error(st, "SetCurrentDirectory", GetLastError());
        st->err = 1031;
        return;
    }
    cell_set_int(st, result, 1);
}

// DirExist(path): 1 when it names a directory.
void fn_direxist(State* st, int, Cell* result, Cell* args, bool) {
    WidePath p;
    if (!arg_dir(st, &args[1], &p)) return;
    cell_set_int(st, result, is_dir_attr(path_attributes(p.c_str())) ? 1 : 0);
}

// DirRename(old, new)
void fn_dirrename(State* st, int, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, 0);
    WidePath from, to;
    if (!arg_dir(st, &args[1], &from) || !arg_dir(st, &args[2], &to)) return;
    if (!is_dir_attr(path_attributes(from.c_str())) || !MoveFileW(from.c_str(), to.c_str())) {
        platform_error(st, "MoveFile", GetLastError());
        st->err = 1226;
        return;
    }
    cell_set_int(st, result, 1);
}

// DirGet(): the current directory with a final "\".
void fn_dirget(State* st, int, Cell* result, Cell*, bool wide) {
    std::wstring d(LONG_PATH_MAX + 1, L'\0');
    const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(d.size()), &d[0]);
    d.resize(n <= LONG_PATH_MAX ? n : 0);
    set_text_result(st, result, with_slash(d), wide);
}

// DirHome(): the directory of the host program, with a final "\".
void fn_dirhome(State* st, int, Cell* result, Cell*, bool wide) {
    std::wstring d(LONG_PATH_MAX + 1, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, &d[0], static_cast<DWORD>(d.size()));
    d.resize(n <= LONG_PATH_MAX ? n : 0);
    set_text_result(st, result, d.substr(0, name_start(d)), wide);
}

// DirWindows(request): 0 the Windows directory, 1 the system directory, with a final "\".
void fn_dirwindows(State* st, int, Cell* result, Cell* args, bool wide) {
    wchar_t d[MAX_PATH + 1];
    const UINT n = args[1].i == 1 ? GetSystemDirectoryW(d, MAX_PATH + 1) : GetWindowsDirectoryW(d, MAX_PATH + 1);
    set_text_result(st, result, with_slash(std::wstring(d, n <= MAX_PATH ? n : 0)), wide);
}

// DirSize(path, flags [, format]): bytes of the files in the directory;
// flags 1 counts the subdirectories too. Hidden and system files count when
// the hidden-files setting is on.
void fn_dirsize(State* st, int nargs, Cell* result, Cell* args, bool) {
    WidePath p;
    if (!arg_dir(st, &args[1], &p)) return;
    if (!is_dir_attr(path_attributes(p.c_str()))) {
        st->err = 1421;
        return;
    }
    const uint64_t total = tree_size(p.str(), (args[2].i & 1) != 0, file_settings(st).hidden != 0);
    size_result(st, result, total, nargs >= 3 ? args[3].i : 0, true);
}
