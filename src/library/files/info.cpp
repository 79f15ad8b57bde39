// Questions about files: FileExist, FileSize, FileSizeEx, FileCompare,
// FileCreateTemp.
#include "library/files/filelist.h"
#include <vector>

namespace {

void total_size(State* st, int nargs, Cell* result, Cell* args, bool int64ok) {
    ListOptions opt;
    opt.allowEmpty = true;
    uint64_t total = 0;
    int count = 0;
    if (!for_each_entry(st, cell_wstr(st, &args[1]), opt, [&](const FoundEntry& e) {
            total += (uint64_t(e.data.nFileSizeHigh) << 32) | e.data.nFileSizeLow;
            ++count;
            return true;
        }))
        return;
    if (!count) {
        st->err = 2112;
        return;
    }
    size_result(st, result, total, nargs >= 2 ? args[2].i : 0, int64ok);
}

}  // namespace

// FileExist(name): 0 no such file (a directory is no file), 1 it exists,
// 2 it exists but another program holds it so that it cannot be opened.
// A name with wildcards asks whether any file matches.
void fn_fileexist(State* st, int, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, 0);
    WidePath p;
    if (!file_long_path(st, &args[1], &p)) return;
    if (has_wildcards(p.c_str() + name_start(p.str()))) {
        ListOptions opt;
        opt.allowEmpty = true;
        bool any = false;
        if (!for_each_entry(st, p.c_str(), opt, [&](const FoundEntry&) { return any = true, false; }) && !any)
            return;
        st->err = 0;
        cell_set_int(st, result, any ? 1 : 0);
        return;
    }
    if (!is_file_attr(path_attributes(p.c_str()))) return;
    ScopedHandle h(open_file(p.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             OPEN_EXISTING));
    cell_set_int(st, result, h.ok() || GetLastError() != ERROR_SHARING_VIOLATION ? 1 : 2);
}

// FileSize(file-list [, format]) and FileSizeEx: the total size of the files.
// FileSize gives a float above 2 GB, FileSizeEx a 64-bit integer.
void fn_filesize(State* st, int nargs, Cell* result, Cell* args, bool) { total_size(st, nargs, result, args, false); }
void fn_filesizeex(State* st, int nargs, Cell* result, Cell* args, bool) { total_size(st, nargs, result, args, true); }

// FileCompare(file1, file2): 0 when the contents are equal, else -1 or 1 by
// the first differing byte (a file that is a beginning of the other is smaller).
void fn_filecompare(State* st, int, Cell* result, Cell* args, bool) {
    WidePath a, b;
    if (!file_long_path(st, &args[1], &a) || !file_long_path(st, &args[2], &b)) return;
    ScopedHandle fa(open_file(a.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    if (!fa.ok()) {
        platform_error(st, "CreateFile", GetLastError());
        st->err = 1389;
        return;
    }
    ScopedHandle fb(open_file(b.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    if (!fb.ok()) {
        platform_error(st, "CreateFile", GetLastError());
        st->err = 1390;
        return;
    }
    constexpr DWORD kBlock = 65536;
    std::vector<uint8_t> ba(kBlock), bb(kBlock);
    for (;;) {
        DWORD na = 0, nb = 0;
        ReadFile(fa.get(), ba.data(), kBlock, &na, nullptr);
        ReadFile(fb.get(), bb.data(), kBlock, &nb, nullptr);
        const DWORD n = na < nb ? na : nb;
        const int c = memcmp(ba.data(), bb.data(), n);
        if (c || na != nb || na == 0) {
            cell_set_int(st, result, c < 0 ? -1 : c > 0 ? 1 : na < nb ? -1 : na > nb ? 1 : 0);
            return;
        }
    }
}

// FileCreateTemp(prefix): creates an empty file with a new name in the
// temporary directory and returns its full name. The prefix (up to three
// characters are used) must not hold path or wildcard characters.
void fn_filecreatetemp(State* st, int, Cell* result, Cell* args, bool wide) {
    const wchar_t* prefix = cell_wstr(st, &args[1]);
    if (wcspbrk(prefix, L"\\/:*?\"<>|") || wcslen(prefix) > 250) {
        st->err = 1652;
        return;
    }
    wchar_t dir[MAX_PATH + 1], name[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
    if (n == 0 || n > MAX_PATH || !GetTempFileNameW(dir, prefix, 0, name)) {
        platform_error(st, "GetTempFileName", GetLastError());
        st->err = 1653;
        return;
    }
    set_text_result(st, result, name, wide);
}
