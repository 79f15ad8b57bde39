// The line reader and the line writer: text files a line at a time, in ANSI,
// UTF-16 little-endian or UTF-16 big-endian. FileRead and FileWrite use them,
// and so do the array and map file functions.
//
// Reader rules: a line ends at a line feed; carriage returns are dropped; a
// NUL unit is dropped or replaced; the unit 26 (Ctrl-Z) may end the file. A
// last line without a line feed counts when it holds at least one unit. With
// a block size of 0 the file is read one unit at a time and a line may hold
// 1279 units; with a block the file is read a block at a time and a line must
// be shorter than the block.
#pragma once
#include "state.h"
#include <cstdint>
#include <string>

enum FileEncoding : uint8_t { FENC_ANSI = 0, FENC_UTF16LE = 1, FENC_UTF16BE = 2 };

// Bytes between lines in byte-by-byte mode: a line reaching this many units is too long.
constexpr uint32_t BYTE_MODE_LIMIT = 1280;

// The read block of the line-length setting for a file of `fileSize` bytes:
// the setting when positive, else the size clamped to 4096..32768 (the caller
// handles a setting of 0 itself when it reads byte by byte).
uint32_t file_block_size(State* st, int64_t fileSize);

// Reads the byte-order mark at the current position (the file start): FF FE
// gives FENC_UTF16LE, FE FF FENC_UTF16BE, and the position stays after it;
// otherwise the position returns to the start and the result is FENC_ANSI.
FileEncoding read_byte_order_mark(HANDLE h);

class LineReader {
public:
    enum Status { LINE, END, TOO_LONG, READ_ERROR };

    LineReader() = default;
    ~LineReader() { release(); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Prepares reading from `h` (not owned) from its current position.
    // `blockUnits` 0 reads unit by unit. `nulUnit` -1 drops NUL units, else
    // they become that unit. False when the buffers cannot be had (1588).
    bool open(HANDLE h, FileEncoding enc, uint32_t blockUnits, int nulUnit, bool ctrlZEnds);
    void release();

    // The next line. LINE: the line is in data()/units(); atEnd() tells
    // whether it was the last one (the file ended without a line feed).
    Status next();
    const void* data() const { return line_; }
    uint32_t units() const { return len_; }
    bool atEnd() const { return done_; }
    FileEncoding encoding() const { return enc_; }

private:
    bool fill();           // false on a read error
    bool appendUnit(uint32_t u);

    HANDLE       h_ = INVALID_HANDLE_VALUE;
    FileEncoding enc_ = FENC_ANSI;
    uint32_t     unit_ = 1;       // bytes per unit
    uint32_t     block_ = 0;      // units per block, 0 unit by unit
    uint32_t     limit_ = 0;      // a line reaching this many units is too long
    int          nul_ = -1;
    bool         ctrlZ_ = true;
    bool         done_ = false;   // the file has no more data for us
    uint8_t*     buf_ = nullptr;  // read block
    uint32_t     pos_ = 0, end_ = 0;
    uint8_t*     line_ = nullptr; // line buffer of limit_ units
    uint32_t     len_ = 0;
};

// The line writer: each line followed by the state's terminator setting.
// UTF-16 files get the mark FF FE (or FE FF) before the first line unless the
// file already has one.
class LineWriter {
public:
    void open(HANDLE h, FileEncoding enc, bool markWritten) {
        h_ = h;
        enc_ = enc;
        marked_ = markWritten || enc == FENC_ANSI;
    }
    FileEncoding encoding() const { return enc_; }
    // Writes the line and the terminator in one call. False when the write
    // failed (the system error code is in GetLastError).
    bool write(State* st, const char* s, size_t n);
    bool write(State* st, const wchar_t* s, size_t n);
    // Bytes written so far.
    uint64_t written() const { return bytes_; }

private:
    bool put(const void* p, size_t n);

    HANDLE       h_ = INVALID_HANDLE_VALUE;
    FileEncoding enc_ = FENC_ANSI;
    bool         marked_ = true;
    uint64_t     bytes_ = 0;
    std::string  scratch_;
};
