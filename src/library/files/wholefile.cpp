// Whole files as one string: FileGet, FileGetW, FilePut, FilePutW, and
// FileEncoding (the byte-order mark a file starts with).
#include "library/files/internal.h"
#include "library/files/linefile.h"
#include <cstring>
#include <memory>

namespace {

// A global-heap work buffer freed on every path.
struct GlobalBuf {
    uint8_t* p = nullptr;
    explicit GlobalBuf(SIZE_T n) { p = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, n ? n : 1)); }
    ~GlobalBuf() {
        if (p) GlobalFree(p);
    }
    GlobalBuf(const GlobalBuf&) = delete;
    GlobalBuf& operator=(const GlobalBuf&) = delete;
};

// Reads the whole file named by the argument. False with the error set:
// 1800 open, 1801 read, 1588 memory.
bool read_whole(State* st, const Cell* arg, std::unique_ptr<GlobalBuf>* out, size_t* size) {
    WidePath path;
    if (!file_long_path(st, arg, &path)) return false;
    ScopedHandle h(open_file(path.c_str(), GENERIC_READ, file_settings(st).readShare, OPEN_EXISTING));
    if (!h.ok()) {
        platform_error(st, "CreateFile", GetLastError());
        st->err = 1800;
        return false;
    }
    LARGE_INTEGER li{};
    if (!GetFileSizeEx(h.get(), &li) || li.QuadPart > 0x7FFFFFF0LL) {
        st->err = 1801;
        return false;
    }
    const DWORD n = static_cast<DWORD>(li.QuadPart);
    out->reset(new GlobalBuf(n + 2));
    if (!(*out)->p) {
        st->err = 1588;
        return false;
    }
    DWORD got = 0;
    if (n && (!ReadFile(h.get(), (*out)->p, n, &got, nullptr) || got != n)) {
        platform_error(st, "ReadFile", GetLastError());
        st->err = 1801;
        return false;
    }
    *size = n;
    return true;
}

// The NUL replacement of the optional argument: its first unit, or 0 (drop).
template <class Ch>
Ch nul_unit(State* st, int nargs, const Cell* args) {
    if (nargs < 2) return 0;
    const std::wstring w = arg_text(st, &args[2]);
    return w.empty() ? 0 : static_cast<Ch>(w[0]);
}

template <class Ch>
size_t replace_nuls(Ch* s, size_t n, Ch with) {
    size_t k = 0;
    for (size_t i = 0; i < n; ++i) {
        if (s[i]) s[k++] = s[i];
        else if (with) s[k++] = with;
    }
    return k;
}

enum Mark { MARK_NONE = 0, MARK_UTF16LE = 1, MARK_UTF16BE = 2, MARK_UTF8 = 3 };

Mark mark_of(const uint8_t* p, size_t n) {
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) return MARK_UTF16LE;
    if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) return MARK_UTF16BE;
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return MARK_UTF8;
    return MARK_NONE;
}

// Writes the bytes to the file named by the argument, created or truncated.
// The result is the number of bytes written; 1800 / 1802 on failure.
void write_whole(State* st, Cell* result, const Cell* arg, const void* a, size_t an, const void* b, size_t bn) {
    WidePath path;
    if (!file_long_path(st, arg, &path)) return;
    ScopedHandle h(open_file(path.c_str(), GENERIC_WRITE, file_settings(st).writeShare, CREATE_ALWAYS));
    if (!h.ok()) {
        platform_error(st, "CreateFile", GetLastError());
        st->err = 1800;
        return;
    }
    for (auto [p, n] : {std::pair<const void*, size_t>{a, an}, {b, bn}}) {
        DWORD done = 0;
        if (n && (!WriteFile(h.get(), p, static_cast<DWORD>(n), &done, nullptr) || done != n)) {
            platform_error(st, "WriteFile", done != n && GetLastError() == 0 ? ERROR_DISK_FULL : GetLastError());
            st->err = 1802;
            return;
        }
    }
    cell_set_int(st, result, static_cast<int32_t>(an + bn));   // read_whole refuses files of 2 GB and more
}

}  // namespace

// FileGet(filename [, null-char]): the file's bytes as an ANSI string.
void fn_fileget(State* st, int nargs, Cell* result, Cell* args, bool) {
    std::unique_ptr<GlobalBuf> buf;
    size_t n = 0;
    if (!read_whole(st, &args[1], &buf, &n)) return;
    char* s = reinterpret_cast<char*>(buf->p);
    n = replace_nuls<char>(s, n, nul_unit<char>(st, nargs, args));
    cell_set_str(st, result, s, n);
}

// FileGetW(filename [, null-char]): the file as wide text. A UTF-16 or UTF-8
// mark says how the bytes are read (the mark is not part of the text);
// without one they are ANSI text of the state's code page.
void fn_filegetw(State* st, int nargs, Cell* result, Cell* args, bool) {
    std::unique_ptr<GlobalBuf> buf;
    size_t n = 0;
    if (!read_whole(st, &args[1], &buf, &n)) return;
    const wchar_t nul = nul_unit<wchar_t>(st, nargs, args);
    uint8_t* p = buf->p;
    std::wstring w;
    switch (mark_of(p, n)) {
    case MARK_UTF16BE:
        for (size_t i = 2; i + 1 < n; i += 2) std::swap(p[i], p[i + 1]);
        [[fallthrough]];
    case MARK_UTF16LE: w.assign(reinterpret_cast<const wchar_t*>(p + 2), (n - 2) / 2); break;
    case MARK_UTF8: {
        const int k = MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<char*>(p + 3), static_cast<int>(n - 3),
                                          nullptr, 0);
        w.resize(static_cast<size_t>(k > 0 ? k : 0));
        if (k > 0) MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<char*>(p + 3), static_cast<int>(n - 3), &w[0], k);
        break;
    }
    case MARK_NONE: w = to_wide(st, reinterpret_cast<char*>(p), n); break;
    }
    w.resize(replace_nuls<wchar_t>(&w[0], w.size(), nul));
    set_wide_result(st, result, w);
}

// FilePut(filename, s): writes the ANSI text as it is; the result is the byte count.
void fn_fileput(State* st, int, Cell* result, Cell* args, bool) {
    const char* s = cell_str(st, &args[2]);
    write_whole(st, result, &args[1], s, strlen(s), nullptr, 0);
}

// FilePutW(filename, s): writes the mark FF FE and the text as UTF-16 little-endian.
void fn_fileputw(State* st, int, Cell* result, Cell* args, bool) {
    static const uint8_t kMark[2] = {0xFF, 0xFE};
    const wchar_t* s = cell_wstr(st, &args[2]);
    write_whole(st, result, &args[1], kMark, 2, s, wcslen(s) * 2);
}

// FileEncoding(filename): 0 no mark, 1 UTF-16 little-endian, 2 UTF-16
// big-endian, 3 UTF-8 with its mark.
void fn_fileencoding(State* st, int, Cell* result, Cell* args, bool) {
    WidePath path;
    if (!file_long_path(st, &args[1], &path)) return;
    ScopedHandle h(open_file(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    if (!h.ok()) {
        platform_error(st, "CreateFile", GetLastError());
        st->err = 1800;
        return;
    }
    uint8_t head[3] = {0, 0, 0};
    DWORD got = 0;
    ReadFile(h.get(), head, 3, &got, nullptr);
    cell_set_int(st, result, mark_of(head, got));
}
