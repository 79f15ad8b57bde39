// The state's table of open files: 128 slots, allocated by the first
// FileOpen and released at tear-down with every file still open closed, so
// everything a script wrote is on disk when its run ends, however it ended.
#pragma once
#include "library/files/linefile.h"
#include "state.h"

// Mode flags of a slot.
enum : uint8_t {
    FM_READ = 1,       // open for reading
    FM_EOF = 2,        // end of file reached
    FM_WRITE = 4,      // open for writing (WRITE or APPEND)
    FM_MARKER = 8,     // the end marker was returned
    FM_WRITTEN = 16,   // at least one line was written
};

struct FileSlot {
    HANDLE       handle;   // nullptr: the slot is free
    uint8_t      mode;
    FileEncoding enc;
    uint8_t      wide;     // FileRead returns wide strings
    LineReader   reader;
    LineWriter   writer;
};

struct FileTable {
    FileSlot slots[MAX_FILES];
};

// The number a script sees for a slot: the low 32 bits of its handle.
inline int32_t file_number(HANDLE h) {
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(h) & 0xFFFFFFFFu);
}

// The first free slot (allocating the table on first use), or nullptr when
// all 128 are taken or the table cannot be allocated (1588 set then).
FileSlot* file_slot_free(State* st);
// The open slot of a script's file number, or nullptr.
FileSlot* file_slot_find(State* st, int32_t number);
// Closes the slot's file and frees its buffers; the slot becomes free.
void file_slot_close(FileSlot* s);
// Free slots (for the internal dump).
int file_slots_available(State* st);
// Tear-down: closes every open file and frees the table.
void files_teardown(State* st);
