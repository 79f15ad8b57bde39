// The table of open files (see filetable.h).
#include "library/files/filetable.h"
#include <new>

FileSlot* file_slot_free(State* st) {
    if (!st->fileTable) {
        st->fileTable = new (std::nothrow) FileTable();
        if (!st->fileTable) {
            st->err = 1588;
            return nullptr;
        }
    }
    for (FileSlot& s : st->fileTable->slots)
        if (!s.handle) return &s;
    return nullptr;
}

FileSlot* file_slot_find(State* st, int32_t number) {
    if (!st->fileTable) return nullptr;
    for (FileSlot& s : st->fileTable->slots)
        if (s.handle && file_number(s.handle) == number) return &s;
    return nullptr;
}

void file_slot_close(FileSlot* s) {
    if (!s->handle) return;
    CloseHandle(s->handle);
    s->handle = nullptr;
    s->mode = 0;
    s->enc = FENC_ANSI;
    s->wide = 0;
    s->reader.release();
    s->writer = LineWriter();
}

int file_slots_available(State* st) {
    if (!st->fileTable) return MAX_FILES;
    int n = 0;
    for (const FileSlot& s : st->fileTable->slots) n += s.handle == nullptr;
    return n;
}

void files_teardown(State* st) {
    if (!st->fileTable) return;
    for (FileSlot& s : st->fileTable->slots) file_slot_close(&s);
    delete st->fileTable;
    st->fileTable = nullptr;
}
