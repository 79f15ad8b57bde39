// Script buffers: preparation, scrambling, the line reader, Call of a script file.
#pragma once
#include "state.h"

extern uint8_t g_scramble[256];     // T
extern uint8_t g_unscramble[256];   // inverse of T
void scramble_init();               // once per process
inline uint8_t scr_enc(uint8_t c, uint32_t pos) { return g_scramble[c] ^ static_cast<uint8_t>(pos); }
inline uint8_t scr_dec(uint8_t b, uint32_t pos) { return g_unscramble[static_cast<uint8_t>(b ^ static_cast<uint8_t>(pos))]; }

// Prepares a host buffer in place (may reallocate *buf). dir = base directory
// for relative #include names, or nullptr. False with the report already made.
bool prepare_buffer(State* st, HGLOBAL* buf, const char* file, const char* dir);

// Reads one logical line at *pos into out (LINE_BUF bytes); stmtPos receives the
// position of its first non-blank character. 1 a line, 0 no line left, -1 lock failure.
int read_line(State* st, HGLOBAL buf, uint32_t* pos, char* out, uint32_t* stmtPos);

// File and line of a buffer position, from the source-location markers.
bool source_location(State* st, HGLOBAL buf, uint32_t pos, char* file, size_t fileSize, uint32_t* line);

// Splits a parameter string into param0..paramN (Call, DLLServices 11).
bool split_params(State* st, const char* text, const wchar_t* wtext);
// Call of a script file; false with the error set (9013 when the called script failed).
bool call_script(State* st, const char* file, const Cell* params);

void pump_messages(State* st);
