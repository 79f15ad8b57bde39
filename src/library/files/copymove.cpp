// Whole files over file lists: FileCopy, FileMove, their Attr variants,
// FileAppend, FileDelete and FileRename.
#include "library/files/attrstring.h"
#include "library/files/filelist.h"
#include "library/files/overwrite.h"
#include <vector>

namespace {

enum class Op { Copy, Move };

// Error numbers of one operation.
struct OpErrors {
    int fromOpen, failed, space;
    const char* call;
};
const OpErrors kCopy = {1009, 1008, 1404, "CopyFile"};
const OpErrors kMove = {1004, 1003, 1405, "FileMove"};

uint64_t size_of(const WIN32_FIND_DATAW& d) { return (uint64_t(d.nFileSizeHigh) << 32) | d.nFileSizeLow; }

// Whether the drive of `target` has room for `bytes` more (true when the
// system cannot tell).
bool room_for(const std::wstring& target, uint64_t bytes) {
    std::wstring dir = target.substr(0, name_start(target));
    if (dir.empty()) dir = L".\\";
    ULARGE_INTEGER avail;
    if (!GetDiskFreeSpaceExW(dir.c_str(), &avail, nullptr, nullptr)) return true;
    return avail.QuadPart >= bytes;
}

bool source_readable(const std::wstring& path) {
    ScopedHandle h(open_file(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    return h.ok();
}

void copy_or_move(State* st, int nargs, Cell* result, Cell* args, Op op) {
    cell_set_int(st, result, 0);
    const OpErrors& errs = op == Op::Copy ? kCopy : kMove;
    const bool warn = args[3].i != 0;
    if (warn && file_settings(st).background) {
        st->err = 3473;
        return;
    }
    DWORD setMask = 0, clearMask = 0;
    const bool withAttrs = nargs >= 4 && parse_attr_string(arg_text(st, &args[4]).c_str(), &setMask, &clearMask);
    Destination dest;
    if (!dest.init(st, cell_wstr(st, &args[2]))) return;
    Overwrite state = warn ? Overwrite::Ask : Overwrite::All;
    const bool ok = for_each_entry(st, cell_wstr(st, &args[1]), ListOptions{}, [&](const FoundEntry& e) {
        const std::wstring target = dest.target(e.data.cFileName);
        if (same_file(e.path, target)) {
            st->err = 2118;
            return false;
        }
        if (!source_readable(e.path)) {
            platform_error(st, "CreateFile", GetLastError());
            st->err = errs.fromOpen;
            return false;
        }
        bool missing = false;
        switch (overwrite_decide(st, &state, target, e.path, &missing)) {
        case OwAnswer::Skip: return true;
        case OwAnswer::Cancel: st->err = missing ? errs.fromOpen : 9999; return false;
        case OwAnswer::Write: break;
        }
        if (!room_for(target, size_of(e.data))) {
            st->err = errs.space;
            return false;
        }
        BOOL done;
        if (op == Op::Copy) {
            done = CopyFileW(e.path.c_str(), target.c_str(), FALSE);
        } else {
            if (is_file_attr(path_attributes(target.c_str()))) DeleteFileW(target.c_str());
            done = MoveFileExW(e.path.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED);
        }
        if (!done) {
            platform_error(st, errs.call, GetLastError());
            st->err = errs.failed;
            return false;
        }
        if (withAttrs) apply_attrs(target.c_str(), setMask, clearMask);   // a failure here is ignored
        return true;
    });
    if (ok) cell_set_int(st, result, 1);
}

// Appends `from` to the end of `to` in blocks of 28672 bytes.
bool append_one(State* st, const std::wstring& from, const std::wstring& to, uint64_t size) {
    ScopedHandle in(open_file(from.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    if (!in.ok()) {
        platform_error(st, "FileAppend: open existing", GetLastError());
        st->err = 1012;
        return false;
    }
    ScopedHandle out(open_file(to.c_str(), GENERIC_WRITE, 0, OPEN_ALWAYS));
    if (!out.ok()) {
        platform_error(st, "FileAppend: open new", GetLastError());
        st->err = 1013;
        return false;
    }
    if (!room_for(to, size)) {
        st->err = 1406;
        return false;
    }
    LARGE_INTEGER zero{};
    SetFilePointerEx(out.get(), zero, nullptr, FILE_END);
    // The work buffer comes from the global heap; without it a small one serves.
    constexpr DWORD kBlock = 28672;
    uint8_t small[1281];
    uint8_t* buf = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, kBlock));
    const DWORD blockSize = buf ? kBlock : sizeof small;
    struct Free {
        uint8_t* p;
        ~Free() {
            if (p) GlobalFree(p);
        }
    } release{buf};
    if (!buf) buf = small;
    for (;;) {
        DWORD got = 0, put = 0;
        if (!ReadFile(in.get(), buf, blockSize, &got, nullptr)) {
            platform_error(st, "FileAppend: read existing", GetLastError());
            st->err = 1014;
            return false;
        }
        if (got == 0) return true;
        if (!WriteFile(out.get(), buf, got, &put, nullptr) || put != got) {
            platform_error(st, "FileAppend: write new", put != got && GetLastError() == 0 ? ERROR_DISK_FULL
                                                                                        : GetLastError());
            st->err = 1014;
            return false;
        }
    }
}

}  // namespace

// FileCopy(source-list, destination, warning)
void fn_filecopy(State* st, int nargs, Cell* result, Cell* args, bool) {
    copy_or_move(st, nargs, result, args, Op::Copy);
}
// FileMove(source-list, destination, warning)
void fn_filemove(State* st, int nargs, Cell* result, Cell* args, bool) {
    copy_or_move(st, nargs, result, args, Op::Move);
}
// FileCopyAttr(source-list, destination, warning, attributes)
void fn_filecopyattr(State* st, int nargs, Cell* result, Cell* args, bool) {
    copy_or_move(st, nargs, result, args, Op::Copy);
}
// FileMoveAttr(source-list, destination, warning, attributes)
void fn_filemoveattr(State* st, int nargs, Cell* result, Cell* args, bool) {
    copy_or_move(st, nargs, result, args, Op::Move);
}

// FileAppend(source-list, destination)
void fn_fileappend(State* st, int, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, 0);
    const wchar_t* destText = cell_wstr(st, &args[2]);
    if (has_wildcards(destText + WidePath::path_prefix(destText))) {
        st->err = 2122;
        return;
    }
    Destination dest;
    if (!dest.init(st, destText)) return;
    const bool ok = for_each_entry(st, cell_wstr(st, &args[1]), ListOptions{}, [&](const FoundEntry& e) {
        const std::wstring target = dest.target(e.data.cFileName);
        if (same_file(e.path, target)) {
            st->err = 2118;
            return false;
        }
        return append_one(st, e.path, target, size_of(e.data));
    });
    if (ok) cell_set_int(st, result, 1);
}

// FileDelete(file-list). A name without wildcards that does not exist is
// 1016; a pattern that matches nothing is 1002.
void fn_filedelete(State* st, int, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, 0);
    const wchar_t* list = cell_wstr(st, &args[1]);
    if (!names_exist(st, list, false, 1016)) return;
    const bool ok = for_each_entry(st, list, ListOptions{}, [&](const FoundEntry& e) {
        if (DeleteFileW(e.path.c_str())) return true;
        platform_error(st, "DeleteFile", GetLastError());
        st->err = 1590;
        return false;
    });
    if (ok) cell_set_int(st, result, 1);
}

// FileRename(source-list, destination): never replaces an existing file.
void fn_filerename(State* st, int, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, 0);
    Destination dest;
    if (!dest.init(st, cell_wstr(st, &args[2]))) return;
    const bool ok = for_each_entry(st, cell_wstr(st, &args[1]), ListOptions{}, [&](const FoundEntry& e) {
        const std::wstring target = dest.target(e.data.cFileName);
        if (MoveFileW(e.path.c_str(), target.c_str())) return true;
        platform_error(st, "FileRename", GetLastError());
        st->err = 1015;
        return false;
    });
    if (ok) cell_set_int(st, result, 1);
}

// FilePurge(file-list, passes [, byte [, keep]]): overwrites each file
// `passes` times (at least once) with the byte (default 0), flushing each
// pass to the disk, then deletes it unless keep is 1.
void fn_filepurge(State* st, int nargs, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, 0);
    const int passes = args[2].i < 1 ? 1 : args[2].i;
    const uint8_t fill = nargs >= 3 ? static_cast<uint8_t>(args[3].i) : 0;
    const bool keep = nargs >= 4 && args[4].i == 1;
    const wchar_t* list = cell_wstr(st, &args[1]);
    if (!names_exist(st, list, false, 1016)) return;
    std::vector<uint8_t> block(65536, fill);
    const bool ok = for_each_entry(st, list, ListOptions{}, [&](const FoundEntry& e) {
        ScopedHandle h(open_file(e.path.c_str(), GENERIC_WRITE, 0, OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH));
        bool done = h.ok();
        for (int pass = 0; done && pass < passes; ++pass) {
            LARGE_INTEGER zero{};
            done = SetFilePointerEx(h.get(), zero, nullptr, FILE_BEGIN) != 0;
            for (uint64_t left = size_of(e.data); done && left > 0;) {
                const DWORD n = left < block.size() ? static_cast<DWORD>(left) : static_cast<DWORD>(block.size());
                DWORD put = 0;
                done = WriteFile(h.get(), block.data(), n, &put, nullptr) && put == n;
                left -= n;
            }
            done = done && FlushFileBuffers(h.get());
        }
        h.reset();
        if (done && (keep || DeleteFileW(e.path.c_str()))) return true;
        platform_error(st, done ? "DeleteFile" : "WriteFile", GetLastError());
        st->err = 1590;
        return false;
    });
    if (ok) cell_set_int(st, result, 1);
}
