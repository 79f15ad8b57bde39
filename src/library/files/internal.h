// Shared by the files family's modules only.
#pragma once
#include "library/files/longpath.h"
#include "library/files/settings.h"
#include "dispatch.h"
#include "errors.h"
#include "value.h"
#include <string>

// A system handle closed on every path.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~ScopedHandle() { reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    bool ok() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (ok()) CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_;
};

// A directory search closed on every path.
class ScopedFind {
public:
    ScopedFind(const wchar_t* pattern, WIN32_FIND_DATAW* fd);
    ~ScopedFind() {
        if (ok()) FindClose(h_);
    }
    ScopedFind(const ScopedFind&) = delete;
    ScopedFind& operator=(const ScopedFind&) = delete;
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
    bool next(WIN32_FIND_DATAW* fd) { return FindNextFileW(h_, fd) != 0; }

private:
    HANDLE h_;
};

// CreateFileW without the system's "insert a disk" boxes.
HANDLE open_file(const wchar_t* name, DWORD access, DWORD share, DWORD disposition,
                 DWORD flags = FILE_ATTRIBUTE_NORMAL);

// Results.
bool set_wide_result(State* st, Cell* result, const std::wstring& s);
// A wide text as the script's result: wide when `wide` or when the state's
// code page cannot spell it, else ANSI in that code page.
bool set_text_result(State* st, Cell* result, const std::wstring& s, bool wide);

// A string argument of either kind (type code 6) as wide text.
std::wstring arg_text(State* st, const Cell* arg);

// Wide text <-> the state's ANSI code page.
std::string  to_ansi(State* st, const wchar_t* s, size_t n);
std::wstring to_wide(State* st, const char* s, size_t n);

// The attributes of a path (INVALID_FILE_ATTRIBUTES when it does not exist).
DWORD path_attributes(const wchar_t* path);
inline bool is_dir_attr(DWORD a) { return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY); }
inline bool is_file_attr(DWORD a) { return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY); }

// Name analysis: position after the last "\", "/" or ":" of the name part
// (after any "\\?\" prefix).
size_t name_start(const std::wstring& path);
bool has_wildcards(const wchar_t* s);

// A file time as YmdHms text (times.cpp): local time unless the state's
// universal-time setting is on; four-digit years.
std::wstring file_time_text(State* st, const FILETIME& ft);

// Script functions.
#define FILES_FN(name) void fn_##name(State*, int, Cell*, Cell*, bool)
FILES_FN(fileopen); FILES_FN(fileread); FILES_FN(filewrite); FILES_FN(fileclose);
FILES_FN(fileget); FILES_FN(filegetw); FILES_FN(fileput); FILES_FN(fileputw); FILES_FN(fileencoding);
FILES_FN(filecopy); FILES_FN(filemove); FILES_FN(filecopyattr); FILES_FN(filemoveattr);
FILES_FN(fileappend); FILES_FN(filedelete); FILES_FN(filerename);
FILES_FN(fileattrget); FILES_FN(fileattrgetex); FILES_FN(fileattrset); FILES_FN(fileattrsetex);
FILES_FN(dirattrget); FILES_FN(dirattrgetex); FILES_FN(dirattrset); FILES_FN(dirattrsetex);
FILES_FN(filetimeget); FILES_FN(filetimegetex); FILES_FN(filetimeset); FILES_FN(filetimesetex);
FILES_FN(filetimetouch); FILES_FN(filetimecode); FILES_FN(fileymdhms);
FILES_FN(filesize); FILES_FN(filesizeex); FILES_FN(fileexist); FILES_FN(filecompare);
FILES_FN(filecreatetemp); FILES_FN(fileinfotoarray); FILES_FN(dirinfotoarray);
FILES_FN(fileverinfo); FILES_FN(filedigest); FILES_FN(filepurge); FILES_FN(filelockitemize);
FILES_FN(filepath); FILES_FN(fileroot); FILES_FN(fileextension); FILES_FN(filebasename);
FILES_FN(filefullname); FILES_FN(filenamelong); FILES_FN(filenameshort); FILES_FN(filelocate);
FILES_FN(filemapname); FILES_FN(filenameeval1); FILES_FN(filenameeval2);
FILES_FN(fileitemize); FILES_FN(fileitempath); FILES_FN(diritemize);
FILES_FN(dirmake); FILES_FN(dirremove); FILES_FN(dirchange); FILES_FN(direxist); FILES_FN(dirrename);
FILES_FN(dirget); FILES_FN(dirhome); FILES_FN(dirwindows); FILES_FN(dirsize);
FILES_FN(diskexist); FILES_FN(diskfree); FILES_FN(disksize); FILES_FN(diskvolinfo); FILES_FN(diskinfo);
FILES_FN(diskscan);
#undef FILES_FN

// A byte count as a result: format 1 gives text with thousands separators
// ("1,234,567"); otherwise a number: INT when it fits, else INT64 when
// `int64ok`, else FLOAT.
void size_result(State* st, Cell* result, uint64_t bytes, int format, bool int64ok);
