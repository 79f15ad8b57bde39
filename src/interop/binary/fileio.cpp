// Files to and from buffers: BinaryRead, BinaryWrite, BinaryReadEx,
// BinaryWriteEx. File names arrive in wide form and go through the files
// family's long-path routine; files are shared as the file settings say.
#include "interop/binary/binary.h"
#include "interop/binary/functions.h"
#include "library/files/longpath.h"
#include "library/files/settings.h"

using namespace bin;

namespace {

// An open file handle, closed on every path.
class File {
public:
    File(const wchar_t* name, DWORD access, DWORD share, DWORD disposition) {
        // No "insert a disk" or "drive not ready" boxes while opening.
        DWORD oldMode = 0;
        const BOOL changed = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
        h_ = CreateFileW(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (changed) SetThreadErrorMode(oldMode, nullptr);
    }
    ~File() {
        if (ok()) CloseHandle(h_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }
    bool size(int64_t* out) const {
        LARGE_INTEGER li;
        if (!GetFileSizeEx(h_, &li)) return false;
        *out = li.QuadPart;
        return true;
    }
    bool seek(int64_t off) const {
        LARGE_INTEGER li;
        li.QuadPart = off;
        return SetFilePointerEx(h_, li, nullptr, FILE_BEGIN) != 0;
    }
    // Reads or writes exactly n bytes, in pieces the system calls accept.
    bool read(uint8_t* p, int64_t n) const { return transfer(p, n, false); }
    bool write(const uint8_t* p, int64_t n) const { return transfer(const_cast<uint8_t*>(p), n, true); }

private:
    bool transfer(uint8_t* p, int64_t n, bool out) const {
        while (n > 0) {
            const DWORD piece = n > (1 << 30) ? (1u << 30) : static_cast<DWORD>(n);
            DWORD done = 0;
            const BOOL ok = out ? WriteFile(h_, p, piece, &done, nullptr) : ReadFile(h_, p, piece, &done, nullptr);
            if (!ok || done != piece) return false;
            p += piece;
            n -= piece;
        }
        return true;
    }
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// The name argument as a path the system accepts at any length (1433 when it
// cannot be converted).
bool file_name(State* st, const Cell& arg, WidePath* path) { return file_long_path(st, &arg, path); }

// 1077, with the system's reason recorded in the detail.
void open_failed(State* st) {
    platform_error(st, "CreateFile", GetLastError());
    st->err = 1077;
}

}  // namespace

// BinaryRead(handle, file): the whole file to offset 0; the end of data
// becomes the file size, which is the result.
void fn_binaryread(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    WidePath name;
    if (!file_name(st, args[2], &name)) return;
    File f(name.c_str(), GENERIC_READ, file_settings(st).readShare, OPEN_EXISTING);
    if (!f.ok()) return open_failed(st);
    int64_t size;
    if (!f.size(&size)) return void(st->err = 1612);
    if (size > b->size) return void(st->err = 1330);
    if (!f.read(b->addr, size)) return void(st->err = 1612);
    b->eod = size;
    set64(st, result, size);
}

// BinaryWrite(handle, file): creates or replaces the file with the data
// (offset 0 to the end of data); returns the byte count.
void fn_binarywrite(State* st, int, Cell* result, Cell* args, bool) {
    const BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    if (b->eod > UINT32_MAX) return void(st->err = 1613);
    WidePath name;
    if (!file_name(st, args[2], &name)) return;
    File f(name.c_str(), GENERIC_WRITE, file_settings(st).writeShare, CREATE_ALWAYS);
    if (!f.ok()) return open_failed(st);
    if (!f.write(b->addr, b->eod)) return void(st->err = 1613);
    set64(st, result, b->eod);
}

// BinaryReadEx(handle, offset, file, file offset, count): count bytes of the
// file from the file offset into the buffer at the offset (count -1: the rest
// of the file); the end of data is raised to cover them. Returns the count.
void fn_binaryreadex(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t off = arg64(args[2]), foff = arg64(args[4]);
    int64_t n = arg64(args[5]);
    if (off < 0) return void(st->err = 1548);
    if (foff < 0) return void(st->err = 1552);
    if (n < -1 || n > INT32_MAX) return void(st->err = 1674);
    WidePath name;
    if (!file_name(st, args[3], &name)) return;
    File f(name.c_str(), GENERIC_READ, file_settings(st).readShare, OPEN_EXISTING);
    if (!f.ok()) return open_failed(st);
    int64_t size;
    if (!f.size(&size)) return void(st->err = 1547);
    if (foff > size) return void(st->err = 1545);
    if (n == -1) n = size - foff;
    if (n > size - foff) return void(st->err = 1546);
    if (!check_range(st, b, off, n)) return;
    if (!f.seek(foff)) return void(st->err = 1547);
    if (!f.read(b->addr + off, n)) return void(st->err = 1612);
    binbuf_touch(b, off + n);
    set64(st, result, n);
}

// BinaryWriteEx(handle, offset, file, file offset, count): count bytes of the
// buffer from the offset into the file at the file offset (-1: at its end).
// The file is created when missing and is not truncated. Returns the count.
void fn_binarywriteex(State* st, int, Cell* result, Cell* args, bool) {
    const BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t off = arg64(args[2]), n = arg64(args[5]);
    int64_t foff = arg64(args[4]);
    if (foff < -1) return void(st->err = 1552);
    if (n < 0 || n > INT32_MAX) return void(st->err = 1674);
    if (!check_range(st, b, off, n)) return;
    WidePath name;
    if (!file_name(st, args[3], &name)) return;
    File f(name.c_str(), GENERIC_WRITE, file_settings(st).writeShare, OPEN_ALWAYS);
    if (!f.ok()) return open_failed(st);
    int64_t size;
    if (!f.size(&size)) return void(st->err = 1547);
    if (foff == -1) foff = size;
    if (foff > size) return void(st->err = 1545);
    if (!f.seek(foff)) return void(st->err = 1547);
    if (!f.write(b->addr + off, n)) return void(st->err = 1613);
    set64(st, result, n);
}
