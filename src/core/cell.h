// Value cells, variable slots, scope frames and array blocks: the fixed-layout
// records that the interpreter shares with hosts and extenders.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <cstdint>
#include <cstddef>

// Type word bits of a value cell.
enum : uint32_t {
    VT_UNDEFINED_W   = 0x0000,   // whole word 0: no value
    TW_INT           = 0x0001,
    TW_STRING        = 0x0002,
    TW_FILEBIT       = 0x0004,   // with TW_INT: a file handle number
    TW_FILE          = 0x0005,
    TW_UNINIT        = 0x0008,   // whole word 8: slot exists, never assigned
    TW_FLOAT         = 0x0020,
    TW_BINBIT        = 0x0040,   // with TW_INT: a binary buffer handle
    TW_BINBUF        = 0x0041,
    TW_UNICODE       = 0x0080,
    TW_ARRAY         = 0x0100,
    TW_VARIANT       = 0x0200,
    TW_COMOBJ        = 0x0600,   // TW_VARIANT | 0x400
    TW_COMTEMP       = 0x0800,
    TW_INT64         = 0x2000,
    TW_HASVALUE      = 0x23A3,   // any of these bits: a variable holds a value
};

constexpr uint16_t SLOT_NONE  = 65535;
constexpr int16_t  LEVEL_NONE = -1;
constexpr int      VARNAMESIZE = 30;

// The 80-byte value cell. Byte offsets are fixed: hosts and extenders read them.
#pragma pack(push, 1)
struct Cell {
    VARIANT  var;        // 0-23   automation value (TW_VARIANT)
    union {
        double  f;       // 24-31  TW_FLOAT
        int64_t i64;     //        TW_INT64
    };
    int32_t  i;          // 32-35  TW_INT, file and binary-buffer handles
    uint32_t type;       // 36-39  type word
    union {
        uint64_t str;    // 40-47  string handle (TW_STRING)
        struct ArrayHdr* arr; //   locked array block (TW_ARRAY)
    };
    uint64_t wstr;       // 48-55  wide string handle (TW_UNICODE)
    uint64_t reserved0;  // 56-63  never copied between cells
    uint64_t ref;        // 64-71  copied with the slot and level fields
    uint16_t slot;       // 72-73  variable slot the value was read from
    int16_t  level;      // 74-75  scope level of that variable
    uint32_t reserved1;  // 76-79
};
#pragma pack(pop)
static_assert(sizeof(VARIANT) == 24, "VARIANT is 24 bytes on x64");
static_assert(sizeof(Cell) == 80);
static_assert(offsetof(Cell, f) == 24 && offsetof(Cell, i) == 32 && offsetof(Cell, type) == 36);
static_assert(offsetof(Cell, str) == 40 && offsetof(Cell, wstr) == 48 && offsetof(Cell, ref) == 64);
static_assert(offsetof(Cell, slot) == 72 && offsetof(Cell, level) == 74);

// A variable slot: bytes 0-59 of a cell, the lower-cased name, a flag byte.
#pragma pack(push, 1)
struct VarSlot {
    uint8_t cell[60];    // bytes 0-59 of a Cell
    char    name[31];    // up to 30 characters, NUL-terminated, lower case
    uint8_t flags;       // bit 0: declared global by PtrGlobalDefine
    uint8_t pad[4];
};
#pragma pack(pop)
static_assert(sizeof(VarSlot) == 96);
inline Cell* slot_cell(VarSlot* s) { return reinterpret_cast<Cell*>(s->cell); } // only bytes 0-59 valid!

// An array block header; element cells (56 bytes each: bytes 0-55 of a Cell) follow it.
#pragma pack(push, 1)
struct ArrayHdr {
    uint32_t dims[5];        // 0-19
    uint8_t  ndims;          // 20
    uint8_t  flags;          // 21  bit 0 growable 1-D, bit 1 map
    uint8_t  reserved;       // 22
    uint8_t  pad0;           // 23
    uint8_t* elements;       // 24-31 address of the first element cell
    uint32_t count;          // 32-35 element count
    uint32_t storage;        // 36-39 bytes reserved for element cells
    uint32_t capacity;       // 40-43 element cells reserved
    uint32_t refs;           // 44-47 reference count (the system lock count saturates at 255)
    int64_t  stamp;          // 48-55 performance counter at creation
};
#pragma pack(pop)
static_assert(sizeof(ArrayHdr) == 56);
constexpr uint32_t ELEMENT_SIZE = 56;
enum : uint8_t { ARR_GROWABLE = 1, ARR_MAP = 2 };

// One scope frame: level 0 is the main script, higher levels are function calls.
struct ScopeFrame {
    uint16_t level;
    uint16_t slots;          // slot count of the table
    uint16_t used;           // slots in use (high-water mark)
    uint16_t marker;         // 65535
    uint32_t serial;
    uint32_t tick;
    HGLOBAL  table;          // the variable table's memory handle
};
