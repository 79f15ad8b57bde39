// Text files through numbered handles: FileOpen, FileRead, FileWrite, FileClose.
#include "library/files/filetable.h"
#include "library/files/internal.h"
#include "eval.h"
#include "wait.h"
#include <cstring>

namespace {

enum class OpenMode { Read, Write, Append, Bad };

OpenMode parse_mode(const char* m) {
    if (_stricmp(m, "READ") == 0) return OpenMode::Read;
    if (_stricmp(m, "WRITE") == 0) return OpenMode::Write;
    if (_stricmp(m, "APPEND") == 0) return OpenMode::Append;
    return OpenMode::Bad;
}

// The retry policy for a file another process holds: how many more attempts
// and the pause before each (milliseconds). -1 attempts: no limit.
void retry_policy(int timeout, int* attempts, DWORD* pause) {
    if (timeout == -1) *attempts = -1, *pause = 1000;
    else if (timeout <= 0) *attempts = 0, *pause = 0;
    else if (timeout < 20) *attempts = 20, *pause = static_cast<DWORD>(timeout) * 50;
    else *attempts = timeout, *pause = 1000;
}

// Opens with the retry policy. INVALID_HANDLE_VALUE with the system error in
// GetLastError, or with *stopped set when a stop request ended the wait.
HANDLE open_with_retry(State* st, const wchar_t* name, OpenMode mode, int timeout, bool* stopped) {
    const FileSettings& s = file_settings(st);
    const DWORD access = mode == OpenMode::Read ? GENERIC_READ : mode == OpenMode::Append ? GENERIC_READ | GENERIC_WRITE
                                                                                          : GENERIC_WRITE;
    const DWORD share = mode == OpenMode::Read ? s.readShare : s.writeShare;
    const DWORD disp = mode == OpenMode::Read ? OPEN_EXISTING : mode == OpenMode::Write ? CREATE_ALWAYS : OPEN_ALWAYS;
    int attempts;
    DWORD pause;
    retry_policy(timeout, &attempts, &pause);
    for (;;) {
        HANDLE h = open_file(name, access, share, disp);
        if (h != INVALID_HANDLE_VALUE) return h;
        const DWORD e = GetLastError();
        if (e != ERROR_SHARING_VIOLATION || attempts == 0) return h;
        if (attempts > 0) --attempts;
        if (!wait_interruptible(st, pause)) {
            *stopped = true;
            return INVALID_HANDLE_VALUE;
        }
        SetLastError(e);
    }
}

int64_t handle_size(HANDLE h) {
    LARGE_INTEGER li{};
    return GetFileSizeEx(h, &li) ? li.QuadPart : 0;
}

}  // namespace

// FileOpen(filename, mode [, wide [, timeout]])
void fn_fileopen(State* st, int nargs, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, 0);
    WidePath path;
    if (!file_long_path(st, &args[1], &path)) return;
    FileSlot* slot = file_slot_free(st);
    if (!slot) {
        if (!st->err) st->err = 3078;
        return;
    }
    const OpenMode mode = parse_mode(cell_str(st, &args[2]));
    if (mode == OpenMode::Bad) {
        st->err = 3076;
        return;
    }
    const bool wide = nargs >= 3 && args[3].i != 0;
    const int timeout = nargs >= 4 ? args[4].i : 0;
    bool stopped = false;
    ScopedHandle h(open_with_retry(st, path.c_str(), mode, timeout, &stopped));
    if (stopped) return;
    if (!h.ok()) {
        platform_error(st, "CreateFile", GetLastError());
        st->err = 1077;
        return;
    }
    FileEncoding enc = FENC_ANSI;
    bool marked = false;
    if (mode == OpenMode::Read) {
        enc = read_byte_order_mark(h.get());
        const int32_t setting = file_settings(st).lineLength;
        const uint32_t block = setting == 0 ? 0 : file_block_size(st, handle_size(h.get()));
        if (!slot->reader.open(h.get(), enc, block, -1, true)) {
            st->err = 1588;
            return;
        }
    } else {
        const int64_t size = mode == OpenMode::Append ? handle_size(h.get()) : 0;
        if (size > 0) {
            enc = read_byte_order_mark(h.get());
            marked = true;   // a mark belongs only at the start of a file
        }
        if (enc == FENC_ANSI && wide) enc = FENC_UTF16LE;
        LARGE_INTEGER zero{};
        SetFilePointerEx(h.get(), zero, nullptr, FILE_END);
        slot->writer.open(h.get(), enc, marked);
    }
    slot->mode = mode == OpenMode::Read ? FM_READ : FM_WRITE;
    slot->enc = enc;
    slot->wide = wide;
    slot->handle = h.release();
    cell_set_int(st, result, file_number(slot->handle));
    result->type = TW_FILE;
}

// FileRead(handle): the next line, or "*EOF*" once.
void fn_fileread(State* st, int, Cell* result, Cell* args, bool) {
    FileSlot* s = file_slot_find(st, args[1].i);
    if (!s) {
        st->err = 3082;
        return;
    }
    if (!(s->mode & FM_READ)) {
        st->err = 3087;
        return;
    }
    if (s->mode & FM_MARKER) {
        st->err = 3088;
        return;
    }
    const bool wideFile = s->enc != FENC_ANSI;
    auto eof_marker = [&] {
        s->mode |= FM_EOF | FM_MARKER;
        if (wideFile || s->wide) cell_set_wstr(st, result, L"*EOF*", 5);
        else cell_set_str(st, result, "*EOF*", 5);
    };
    if (s->mode & FM_EOF) return eof_marker();
    switch (s->reader.next()) {
    case LineReader::END: return eof_marker();
    case LineReader::TOO_LONG: st->err = 1591; return;
    case LineReader::READ_ERROR:   // the system could not read on: nothing more to read
        platform_error(st, "ReadFile", GetLastError());
        st->err = 3088;
        return;
    case LineReader::LINE: break;
    }
    if (s->reader.atEnd()) s->mode |= FM_EOF;
    const uint32_t n = s->reader.units();
    if (wideFile) {
        cell_set_wstr(st, result, static_cast<const wchar_t*>(s->reader.data()), n);
    } else if (s->wide) {
        const std::wstring w = to_wide(st, static_cast<const char*>(s->reader.data()), n);
        set_wide_result(st, result, w);
    } else {
        cell_set_str(st, result, static_cast<const char*>(s->reader.data()), n);
    }
}

// FileWrite(handle, s): the line and the terminator.
void fn_filewrite(State* st, int, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, 0);
    FileSlot* s = file_slot_find(st, args[1].i);
    if (!s) {
        st->err = 3085;
        return;
    }
    if (!(s->mode & FM_WRITE)) {
        st->err = 3089;
        return;
    }
    Cell* text = &args[2];
    bool ok;
    if (text->type & TW_UNICODE) {
        const wchar_t* w = cell_wstr(st, text);
        ok = s->writer.write(st, w, wcslen(w));
    } else {
        if (!(text->type & TW_STRING) && !conv_to_ansi(st, text)) {
            if (!st->err) st->err = 3056;
            return;
        }
        const char* a = cell_str(st, text);
        ok = s->writer.write(st, a, strlen(a));
    }
    if (!ok) {
        platform_error(st, "WriteFile", GetLastError());
        st->err = 3467;
        return;
    }
    s->mode |= FM_WRITTEN;
}

// FileClose(handle)
void fn_fileclose(State* st, int, Cell* result, Cell* args, bool) {
    cell_set_int(st, result, 0);
    FileSlot* s = file_slot_find(st, args[1].i);
    if (!s) {
        st->err = 3080;
        return;
    }
    file_slot_close(s);
}
