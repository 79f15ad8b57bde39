// The file settings of an interpreter state: share modes, the line-length
// setting, the line terminator, the file-list delimiter, and the switches for
// hidden files, universal times, the long-name re-check and background mode.
// Other families (array and map files) read them through file_settings().
// IntControl requests 100-108 change them (docs/files.md).
#pragma once
#include "state.h"

using FileSettings = State::FileSettings;

// The state's settings, with the defaults filled in on first use: others may
// read files opened for reading (share 1), no sharing for writing (0), line
// length -2, CR LF terminator, tab as the list delimiter, the rest off.
FileSettings& file_settings(State* st);

// The terminator of the setting as ANSI bytes ("" for 0). Its length in *len.
const char* file_terminator(State* st, size_t* len);

// IntControl 100-108 (each returns the previous value as text).
void ic_file_read_share(State* st, Cell* result, Cell* p);    // 100: 0-7; other values only read
void ic_file_write_share(State* st, Cell* result, Cell* p);   // 101: 0-7
void ic_file_line_length(State* st, Cell* result, Cell* p);   // 102: -2 and up; below -2 only reads
void ic_file_terminator(State* st, Cell* result, Cell* p);    // 103: 0-4
void ic_file_list_delim(State* st, Cell* result, Cell* p);    // 104: a one-character string; else only reads
void ic_file_hidden(State* st, Cell* result, Cell* p);        // 105: 0/1
void ic_file_utc(State* st, Cell* result, Cell* p);           // 106: 0/1
void ic_file_recheck(State* st, Cell* result, Cell* p);       // 107: 1 switches the long-name re-check off
void ic_file_background(State* st, Cell* result, Cell* p);    // 108: 0/1
