// Line loop, statement wrapper, statement executor, labels and user-defined functions.
#pragma once
#include "state.h"

enum : uint16_t {
    SK_FOR = 504, SK_FOREACH = 505, SK_SWITCH = 715, SK_WHILE = 750,
    SK_IF = 10001, SK_ELSE = 10002,
    SK_GOSUB_FALSE = 29000, SK_GOSUB_TRUE = 29001, SK_GOSUB_NONE = 29003,
    SK_CALL = 350, SK_UDF = 29500,
};
enum : uint8_t { SS_EXEC = 0, SS_LOOKING = 1, SS_SKIPALL = 2, SS_CONTINUE = 4, SS_BREAK = 8 };

struct UdfRecord {
    uint16_t params;
    uint16_t nameLen;
    uint32_t cls;              // 2 function/subroutine, 9 command
    HGLOBAL  body;             // body buffer (scrambled, positions of the defining buffer)
    uint32_t start;            // start position in the defining buffer
    uint32_t length;
    int32_t  lineInfo;         // -1 initially
    uint32_t kind;             // 0 function, 1 subroutine or command
    char     name[31];
    char     paramNames[16][31];
    char     file[MAX_PATH];
    Cell*    args;             // argument cells of the call in progress
};

// Returns 1 buffer ended, 0 stopped (error in state), -1 Return ended the buffer.
int line_loop(State* st, Cell* result, HGLOBAL buf, uint32_t* pos, void* caller);

bool is_skipping(State* st);
bool struct_push(State* st, uint16_t kind, uint8_t status, uint16_t errIfFull = 3353);
void struct_pop(State* st);

// 1 found (pos set to the line after the label), 0 with 3033/3032.
int label_search(State* st, const char* name, uint32_t* pos, uint32_t linePos, uint32_t stmtPos,
                 HGLOBAL buf, bool noPatch);

typedef int (*NativeUdfCb)(State* st, Cell* result, Cell* args, int nargs, void* ctx);
// kind: 0 ordinary, 1 dialog callback, 2 error/cancel handler, 3 COM event.
int udf_call(State* st, uint32_t id, Cell* result, Cell* args, int nargs, NativeUdfCb cb, void* ctx, int kind);
UdfRecord* udf_record(State* st, uint32_t index);
int udf_find(State* st, const char* lname);    // record index or -1
