// The interpreter state: one per running script, allocated by the host as a
// movable global memory block of STATE_SIZE bytes and locked by the library
// for the duration of each entry. It holds every table the script uses.
//
// Each section below is owned by one module; fields are added to the owning
// section only. Pointers stored here are valid only while the state is locked
// (one library entry), except pointers to blocks the state itself owns.
#pragma once
#include <windows.h>
#include <cstdint>
#include "cell.h"
#include "keywords.h"

constexpr uint32_t STATE_SIZE        = 83384;
constexpr uint32_t INTERFACE_VERSION = 0x13;
constexpr int      TOKEN_BUF         = 2050;
constexpr int      LINE_BUF          = 2050;
constexpr int      MAX_SCOPES        = 101;
constexpr int      MAX_STRUCT        = 101;
constexpr int      MAX_UDF           = 512;
constexpr int      UDF_BLOCK         = 16;
constexpr int      MAX_FILES         = 128;
constexpr int      MAX_BINBUF        = 128;
constexpr int      MAX_DLLSTRUCT     = 128;
constexpr int      MAX_CALLBACKS     = 512;
constexpr int      MAX_LIBS          = 10;
constexpr int      MAX_EXTENDERS     = 32;
constexpr int      MAX_EXTFUNCS      = 751;
constexpr int      MAX_DDE           = 10;
constexpr int      DETAIL_SIZE       = 1025;

// Host-notification option bits (DLLServices 3 and 60).
enum : uint32_t { HN_PERLINE = 1, HN_FILECHANGE = 2, HN_ERRORS = 4 };

// One structure-stack entry (see exec.h for kinds and statuses).
struct StructEntry {
    uint16_t kind;
    uint32_t resume;       // resume position (Switch: high 16 bits of the value)
    uint32_t linePos;      // position of the line that opened the entry
    void*    caller;       // script buffer handle executing at push time
    uint16_t script;       // script / UDF index, 65535 = main script
    uint16_t inUdf;
    uint8_t  status;
    uint8_t  savedLoop;
    uint16_t var;          // For/ForEach: loop variable slot; Switch: low 16 bits; frames: returned flag
    uint16_t tempVar;      // ForEach: hidden collection variable
};

struct UdfRecord;          // exec.h
struct BinSlot;            // interop/binary/binbuf.h

struct State {
    // ---- value model (heap.cpp, vars.cpp, arrays.cpp, cells.cpp) ----
    uint8_t*   heapBase;        // string heap region (reserved by the host)
    uint64_t   heapReserved;    // bytes reserved at heapBase
    uint64_t   heapCommitted;   // bytes committed ("Total memory allocated for strings")
    uint64_t   heapEnd;         // offset of the end marker
    HGLOBAL    varTable;        // current scope's variable table
    VarSlot*   vars;            // locked address of varTable
    uint16_t   varSlots;        // slot count of the current table
    uint16_t   varUsed;         // slots in use (high-water mark)
    uint16_t   level;           // current scope level
    uint16_t   pumpSkip;        // statements left before the clock is looked at again
    uint32_t   scopeSerialCounter;
    uint32_t   curSerial;
    uint32_t   curTick;
    ScopeFrame frames[MAX_SCOPES];
    VarSlot*   scopeVars[MAX_SCOPES];   // locked address of each level's table
    uint8_t    scopeLockedHere[MAX_SCOPES]; // scope_push locked it (scope_pop unlocks)

    // ---- tokenizer (tokenizer.cpp, keywords.cpp) ----
    char*      prog;            // read position in the current line
    char*      tokStart;        // where the current token began (for putback)
    int32_t    delimType;       // token kind (TK_*)
    uint32_t   tok;             // token code of a keyword token
    uint8_t    unaryAmp;        // current "&" stands where an operand is expected
    uint8_t    ptrPrefix;       // a "*" pointer prefix precedes the name being read
    uint8_t    ptrPersistent;   // PtrPersistent is reading its argument
    uint8_t    makePointer;     // ?makepointer / PtrGlobalDefine reads its argument
    uint32_t   prevTok;         // code of the previous keyword token (9999 none)
    int32_t    prevDelim;       // kind of the previous token
    void*      tokLine;         // cached tokens of the text in `line` (linecache.h), or null
    uint32_t   tokHint;         // index of the cached token expected next
    uint16_t   tokSlot;         // slot of the variable token just read (SLOT_NONE: unknown)
    uint16_t   tokPad;
    char       token[TOKEN_BUF];

    // ---- evaluator (eval.cpp, convert.cpp, numtext.cpp) ----
    int32_t    decimals;        // Decimals setting, default -1

    // ---- executor (exec*.cpp) ----
    StructEntry stack[MAX_STRUCT];
    uint32_t   stackCount;
    uint8_t    loopFlag;
    int8_t     pendingIf;       // -1 none, 0 false, 1 true
    uint8_t    inDefinition;    // between #Define... and #End...
    uint8_t    inExecute;
    uint8_t    inUdf;           // the running buffer is a function body
    uint8_t    stopRequest;
    uint8_t    stopShowMsg;
    uint8_t    traceOn;
    uint8_t    debugOut;
    uint8_t    executeMode;     // IntControl 87: 0 OK/Cancel box, 1 OK box, 2 silent
    uint16_t   curUdf;          // running function record, 65535 = main script
    uint16_t   udfCount;
    uint16_t   udfNesting;
    UdfRecord* udfBlocks[MAX_UDF / UDF_BLOCK];
    HGLOBAL    curBuffer;       // script buffer being executed
    uint32_t   curLinePos;      // position of the current line
    uint32_t   curStmtPos;      // position of the current statement
    uint32_t   nextPos;         // position of the next line
    int32_t    traceEvent;
    int32_t    traceOutcome;
    int32_t    traceWhy;        // trace code 9: 0 GoSub, 1 cancel handler, 2 error handler
    uint32_t   lastPumpTick;    // tick of the last message pump between statements
    void*      lineCache;       // lines and tokens already read (linecache.cpp)
    uint32_t   errorEvents;     // statements that ended with an error or a control code
    HGLOBAL    udfTables[MAX_SCOPES];  // local variable tables kept for reuse, by scope level
    VarSlot*   udfTableVars[MAX_SCOPES]; // their addresses: a kept table stays locked until freed
    uint32_t   udfTableBytes[MAX_SCOPES]; // and their sizes (no size query on every call)
    void*      runningPool[MAX_SCOPES];  // saved statement contexts of nested line loops, by depth (lineloop.cpp)
    uint16_t   loopDepth;                // nested line loops running
    char       line[LINE_BUF];  // current line
    char       curFile[MAX_PATH];
    void*      forEachSlots[MAX_STRUCT];

    // ---- loading and host entry (host.cpp, loader.cpp, dispatch.cpp, services.cpp) ----
    HWND       hostWnd;
    HWND       ownerWnd;
    const KeywordRec* hostFuncs;   // host function table (ends with nameLen 0)
    uint64_t   hostValue;          // host entry for host functions and notifications
    uint32_t   options;            // bit 0 #include processing, bit 1 run-time #include
    uint32_t   hostNotify;         // HN_* bits
    uint32_t   callDepth;
    uint32_t   lastResult;         // last line-loop result code
    uint32_t   lastPos;            // last buffer position
    HGLOBAL    lastBuffer;
    char       hostId1[20];
    char       hostId2[20];
    const char* hostText;          // request 3: kept by pointer
    int32_t    winVersion;         // major * 100 + minor (1000 = Windows 10)
    uint8_t    sounds;
    uint8_t    prettyDialogs;
    uint8_t    pendingLineTooLong; // line reader: 3722 pending
    uint8_t    pad1;
    uint32_t   codePage;           // code page for ANSI/wide conversion (CP_ACP)
    HGLOBAL    selfHandle;         // this state's own handle (services block, DLLServices)
    const char* callName;          // name as written of the built-in call in progress
    uint32_t   hostPrivate;        // the host entry's private slot
    uint16_t   runErr;             // error or control code that ended the last run (0 normal end)
    uint8_t    answerFailed;       // ViperAnswer could not store the result (3210)
    uint8_t    pad3;
    int32_t    frameCx;            // window frame size measured at request 2
    int32_t    frameCy;
    char       mainFile[MAX_PATH]; // file name of the main script (request 3, DLLServices 40)

    // ---- errors (errors*.cpp) ----
    uint16_t   err;             // current error number, 0 none
    uint16_t   savedErr;
    uint16_t   lastErr;         // what LastError returns
    uint16_t   pendingErr;      // injected error raised before the next statement
    int32_t    errorMode;       // 0 @OFF, 1 @CANCEL, 2 @NOTIFY
    int32_t    cancelMode;      // IntControl 72
    int32_t    errHandlerMode;  // IntControl 73
    char       cancelFunc[31];
    char       errFunc[31];
    uint16_t   userCode;
    char       userText[256];
    char*      detail;          // detail block (DETAIL_SIZE bytes) or nullptr
    uint8_t    noDialogs;       // DLLServices 23
    uint8_t    pad2[7];
    char       msgLog[MAX_PATH];
    void*      reportCb;        // console hosts: receives error reports as text
    void*      reportCtx;
    const char* reportLine;     // statement text of the report in progress (else line)
    HGLOBAL    reportBuf;       // buffer and positions of that statement
    uint32_t   reportLinePos;
    uint32_t   reportNextPos;
    uint8_t    saveReport;      // DLLServices 30: the dialog offers "Save" (result 140)
    uint8_t    errPad[7];
    char       savePath[MAX_PATH];
    char       boxTitle[256];   // texts of the last no-dialog box, kept for the host
    char       boxText[256];

    // ---- library families: per-state settings and tables ----
    // Each family adds its fields under its own heading (keep the blank lines
    // between headings so that families added side by side merge cleanly).
    // Large tables go in a block the family allocates on first use and frees
    // in its tear-down function (families.cpp), with only a pointer here.
    // strings
    // The ANSI character rules of the code page they were built for
    // (library/strings/strchars.cpp): double-byte lead bytes, upper and
    // lower case of each byte. Rebuilt when codePage changes.
    uint32_t   strRulesCp;      // codePage value the tables were built for
    uint8_t    strRulesReady;   // 0: not built yet
    uint8_t    strHasLead;      // the code page has double-byte characters
    uint8_t    strPad[2];
    uint8_t    strLead[256];
    uint8_t    strUpper[256];
    uint8_t    strLower[256];

    // time
    uint8_t    timeTwoDigitYears;  // IntControl 41 shows the inverse: four-digit years, on (1) by default

    // files
    struct FileTable* fileTable;   // library/files/filetable.cpp: the open files, allocated by the first FileOpen
    struct FileSettings {          // library/files/settings.h: read through file_settings(), which fills the defaults
        uint8_t  ready;            // 0 until the defaults were filled in
        uint8_t  terminator;       // line end written after each line: 0 none, 1 CR LF, 2 LF, 3 CR, 4 tab
        uint8_t  hidden;           // itemizing lists hidden and system entries too
        uint8_t  utc;              // file times in universal time instead of local time
        uint8_t  noRecheck;        // 1: long names found by a wildcard search are not matched again
        uint8_t  background;       // the script must not show windows
        uint16_t listDelim;        // file-list delimiter (besides tab and "|")
        uint32_t readShare;        // share mode of files opened for reading
        uint32_t writeShare;       // share mode of files opened for writing or appending
        int32_t  lineLength;       // read block and line limit; 0 byte by byte; negative: from the file size
    } fileSet;

    // items
    uint32_t   itemMapSize;        // IntControl 120: buckets of a new map (0: the default, 64)
    HMODULE    itemShlwapi;        // SHLWAPI.DLL, loaded by the first @LOGICALSORT (library/items/arrcompare.cpp)
    void*      itemCmpLogical;     // its StrCmpLogicalW

    // binary buffers
    BinSlot*   binSlots;       // MAX_BINBUF slots, allocated by the first BinaryAlloc

    // trace
    struct TraceBlock* traceBlock;  // diag/trace_block.h: destination, options, start tick (on first use)
    uint8_t    traceAtStart;        // DLLServices 25: every run starts with the trace on
    uint8_t    debugDataPath;       // IntControl 160: DebugData to 0 the debugger output, 1 the report writer
    uint8_t    tracePad[6];

    // registry
    struct RegKeyTable* regKeys;   // keys the script holds open (registry/regkeys.cpp), nullptr until the first
    uint8_t    regViewSet;         // regView was set; until then the default view is 2
    uint8_t    regView;            // default registry view: 0 none, 1 the 32-bit view, 2 the 64-bit view

    // windows, processes, keys
    // windows (library/windows/winsettings.cpp): put in on first use
    uint8_t    winReady;          // the settings below hold their defaults or script values
    uint8_t    winPad[3];
    int32_t    winWait;           // seconds a lookup of the acting members retries (IntControl 130)
    int32_t    winCmdDelay;       // ms after a posted minimise, maximise or restore (131)
    int32_t    winDoneDelay;      // ms after WinWaitExist / WinWaitClose succeed (132)

    // keys (library/keys/keysettings.cpp): put in on first use
    uint8_t    keyReady;          // the settings below hold their defaults or script values
    uint8_t    keyIdleWait;       // wait until the foreground program is idle (IntControl 43)
    uint8_t    keyConsole;        // special handling of console windows (IntControl 45)
    uint8_t    keyConsoleMode;    // the remembered foreground window is a console
    int32_t    keyDelay;          // ms after each key (IntControl 35)
    HWND       keyFgWnd;          // the foreground window seen last by the sender
    wchar_t    keyFgTitle[80];    // the first 79 characters of its title

    // processes (library/processes/settings.cpp): zero means the default
    int32_t    procIdleWait;     // IntControl 140: ms to wait for a started program's input readiness
    int32_t    procExitCode;     // exit code of the last program waited for
    uint8_t    procIdleWaitSet;  // 0: procIdleWait not set, the default 10000 applies
    uint8_t    procExitKnown;    // 0: no exit code (the last exit code reads 99999)
    uint8_t    procLaunchSound;  // IntControl 142: the "StartProgram" sound before a visible start
    uint8_t    procPad[5];


    // ---- native interop tables (later families) ----
    void*      dllStructs[MAX_DLLSTRUCT];
    void*      callbacks[MAX_CALLBACKS];
    HMODULE    libs[MAX_LIBS];
    HMODULE    extenders[MAX_EXTENDERS];
    int32_t    extLevel[MAX_EXTENDERS];
    uint32_t   extPrivate[MAX_EXTENDERS];
    KeywordRec extFuncs[MAX_EXTFUNCS];
    uint32_t   nNextExtEntry;
    void*      dde[MAX_DDE];
};
static_assert(sizeof(State) <= STATE_SIZE, "the state must fit in the block the host allocates");

// The module handle of the library (set by DllMain).
extern HINSTANCE g_hInst;
