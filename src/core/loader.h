// Script buffers: preparation, scrambling, the line reader, Call of a script file,
// plus the small host-entry helpers other modules share (busy counter, settings,
// memory locks, message pumping).
#pragma once
#include "state.h"
#include <string>
#include <vector>

// ---- scrambling ----
// Script text in memory is stored as T[c] ^ (pos & 255). T is drawn once per
// process from a generator seeded by the performance counter and the process
// id, so it differs between processes and is never stored anywhere.
extern uint8_t g_scramble[256];     // T
extern uint8_t g_unscramble[256];   // inverse of T
void scramble_init();               // once per process (later calls do nothing)
void scramble_seed(uint64_t seed);  // draws T from `seed` (tests: a second "process")
inline uint8_t scr_enc(uint8_t c, uint32_t pos) { return g_scramble[c] ^ static_cast<uint8_t>(pos); }
inline uint8_t scr_dec(uint8_t b, uint32_t pos) { return g_unscramble[static_cast<uint8_t>(b ^ static_cast<uint8_t>(pos))]; }
// In-place helpers over n bytes whose first byte has key position `pos`.
void scramble_bytes(uint8_t* p, size_t n, uint32_t pos);
void unscramble_bytes(const uint8_t* src, size_t n, uint32_t pos, char* dst);

// ---- preparation ----
// Prepares a host buffer in place (may reallocate *buf). dir = base directory
// for relative #include names, or nullptr. False with the report already made.
// A buffer that is already prepared (it decodes to a marker line) is left alone,
// so the same buffer may be run again. When *buf is a fixed block that cannot
// grow in place, *buf receives a private movable block that the caller frees.
bool prepare_buffer(State* st, HGLOBAL* buf, const char* file, const char* dir);

// The text-level steps of preparation, exposed for the tests: UTF-16 to ANSI
// (text starting with a byte-order mark), line ends, #include expansion with
// marker lines. `expand` returns 0 or the message number of the failure (216,
// 217, 218) with the offending file name in *failName.
bool prep_utf16(State* st, const uint8_t* p, size_t bytes, std::string& out);
void prep_line_ends(std::string& text);
int  prep_expand(State* st, std::string& text, const char* file, const char* dir, bool includes,
                 std::string* failName);

// Source-location marker line: ";" 11 (64+flag) "@" four 6-bit groups of the
// line number (64+group, most significant first), the file name, "\n".
constexpr char MARKER0 = ';';
constexpr char MARKER1 = 11;
std::string marker_line(uint32_t line, const std::string& file, int flag = 1);
// Parses a marker at p (n bytes available, plain text); false if it is none.
bool marker_parse(const char* p, size_t n, uint32_t* line, std::string* file, size_t* len);

// ---- reading ----
// Reads one logical line at *pos into out (LINE_BUF bytes); stmtPos receives the
// position of its first non-blank character. 1 a line, 0 no line left, -1 lock failure.
// keyBase: key position of buffer byte 0 (a function body copied out of the
// buffer that defined it keeps that buffer's positions: pass its start).
// A line longer than 2048 characters is cut and sets st->pendingLineTooLong.
int read_line(State* st, HGLOBAL buf, uint32_t* pos, char* out, uint32_t* stmtPos, uint32_t keyBase = 0);
// The same over an already locked buffer of `size` bytes.
int read_line_mem(State* st, const uint8_t* mem, size_t size, uint32_t* pos, char* out,
                  uint32_t* stmtPos, uint32_t keyBase = 0);

// File and line of a buffer position, from the source-location markers.
// Without markers the file is "" and lines count from 1. False if the buffer
// cannot be locked.
bool source_location(State* st, HGLOBAL buf, uint32_t pos, char* file, size_t fileSize, uint32_t* line,
                     uint32_t keyBase = 0);

// The folder part of a path (up to the last "\\" or "/", without it), "" when
// there is none. Allocates nothing.
void path_dir(const char* path, char* out, size_t size);

// ---- parameters and Call ----
// Splits a parameter string into param0..paramN (Call, DLLServices 11).
bool split_params(State* st, const char* text, const wchar_t* wtext);
// The word splitting alone: blanks and tabs separate; "...", '...' and `...`
// keep blanks; a doubled quote inside stands for one.
std::vector<std::string>  param_words(const char* text);
std::vector<std::wstring> param_words(const wchar_t* text);
// Call of a script file; false with the error set (9013 when the called script
// failed). `result` (optional) receives the value of a Return in the called script.
bool call_script(State* st, const char* file, const Cell* params, Cell* result = nullptr);

// ---- host-entry helpers ----
void pump_messages(State* st);
void pump_messages_for(State* st, DWORD ms);   // pumps until the queue is empty or ms passed

// Process-wide busy counter: entries wait in 50 ms sleeps while another holds it.
struct BusyHold {
    BusyHold();
    ~BusyHold();
    BusyHold(const BusyHold&) = delete;
    BusyHold& operator=(const BusyHold&) = delete;
};

// Locks a global memory block for the lifetime of the object.
class GMemLock {
public:
    explicit GMemLock(HGLOBAL h) : h_(h), p_(h ? GlobalLock(h) : nullptr) {}
    ~GMemLock() { if (p_) GlobalUnlock(h_); }
    GMemLock(const GMemLock&) = delete;
    GMemLock& operator=(const GMemLock&) = delete;
    template <class T = void> T* get() const { return static_cast<T*>(p_); }
    explicit operator bool() const { return p_ != nullptr; }
    void release() { if (p_) { GlobalUnlock(h_); p_ = nullptr; } }
private:
    HGLOBAL h_;
    void*   p_;
};

// Window procedures of the library's window classes (0 cx8wcmmn, 1 cx9wcdlg,
// 2 cx0wcdl2, 3 cx0wcdl3 wide), installed by the modules that create such
// windows; while null the class uses the default window or dialog procedure.
extern WNDPROC g_classProcs[4];

// Numeric setting: HKLM\Software\Talvorn\Settings\<file base>\<section>, value
// `key` read as a string and converted to a number; `def` when missing.
int settings_int(const char* fileBase, const char* section, const char* key, int def);

// Shows a preparation/loading failure at the fatal level (error `num`, optional
// detail) through the error report, then clears the error. Always returns false.
bool loader_fail(State* st, uint16_t num, const char* detail);
