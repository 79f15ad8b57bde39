/* Public interface of CXDXA64I.dll for host programs and extenders.
   All records have fixed layouts; see docs/host-interface.md. */
#pragma once
#include <windows.h>
#include <stdint.h>

#define KEL_INTERFACE_VERSION 0x13     /* second byte of the version word */
#define KEL_STAMP             0x30030105u
#define KEL_SERVICES_STAMP    1012u

#pragma pack(push, 1)
/* A value passed to or returned from host and extender functions (56 bytes). */
typedef struct KelValue {
    uint32_t       type;      /* type word bits: 1 INT, 2 STRING, 0x20 FLOAT, 0x80 UNICODE, 0x100 ARRAY, 0x200 VARIANT, 0x2000 INT64 */
    int32_t        ival;
    double         fval;
    int64_t        i64;
    const char*    str;
    const wchar_t* wstr;
    void*          handle;    /* array block or VARIANT* */
    uint64_t       reserved;
} KelValue;

/* Block handed to host and extender functions (136 bytes). */
typedef struct KelServices {
    void*    state;           /* interpreter state address (context for KelAnswer) */
    void*    result;          /* result cell of the call in progress */
    uint32_t stamp;           /* 1012 */
    uint32_t size;            /* 136 */
    void*    dllServices;     /* address of DLLServices */
    HGLOBAL  stateHandle;
    void*    instance;
    HWND     owner;
    void*    routines[10];
} KelServices;

/* A function record of a host function table; the table ends with nameLen 0. */
typedef struct KelFunction {
    uint32_t code;            /* the host's own function number */
    uint32_t cls;             /* 2 */
    uint64_t argTypes;        /* 4-bit codes: 0 int, 1 ANSI, 2 float, 3 array, 5 wide, 15 any */
    uint32_t value;           /* low byte required args, next byte optional */
    uint16_t nameLen;
    char     name[34];        /* lower case */
} KelFunction;

/* A report handed to the host instead of showing a dialog (DLLServices 24). */
typedef struct KelReport {
    uint32_t    size;
    uint32_t    kind;         /* 0 error report, 1 other box */
    uint32_t    errNum;
    int32_t     severity;     /* 1 minor, 0 moderate, 13 fatal */
    const char* title;
    const char* numbered;
    const char* location;
    const char* statement;
    const char* detail;
    int32_t     willContinue;
} KelReport;
#pragma pack(pop)

/* Host entry: host functions are called with request = KelFunction.code, p1 = the
   answer callback (KelAnswer), services, p4 = KelValue[argc]. Notifications arrive
   with negative requests (-1 next line, -4 call depth, -5 file, -7 error text) and p1 = text. */
typedef int64_t (*KelEntry)(HWND hwnd, void* instance, uint32_t stamp, int32_t request, void* p1,
                            KelServices* services, void* privateSlot, void* p4, int64_t n, void* work);
typedef int64_t (*KelAnswer)(int64_t code, int64_t word2, KelServices* services, const KelValue* value);
typedef int (*KelReportCallback)(void* ctx, const KelReport* report);

typedef int64_t (*PFN_DoDaDllInit)(HWND hwnd, HGLOBAL state, uint64_t a3, uint16_t request, uint64_t a5,
                                   const char* text1, const char* text2);
typedef int (*PFN_ProcessDaBatBuffer)(HWND hwnd, HGLOBAL state, HGLOBAL script, uint64_t hostValue,
                                      const KelFunction* hostTable);
/* Inflates a zlib stream in place and appends a NUL byte (the buffer holds
   uncompressedSize + 1 bytes); the uncompressed length or 0xFFFFFFFF. */
typedef uint32_t (*PFN_UncompressBuffer)(void* buffer, uint32_t compressedLength, uint32_t uncompressedSize);
typedef int64_t (*PFN_DLLServices)(HGLOBAL state, int request, void* p1, void* p2, int64_t n, int64_t n2);

/* DoDaDllInit requests */
#define KEL_REQ_VERSION  0
#define KEL_REQ_INIT     1
#define KEL_REQ_VARTABLE 2
#define KEL_REQ_HEAP     3
#define KEL_REQ_TEARDOWN 99

/* DLLServices requests used by hosts */
#define KEL_SVC_HOSTIDS       0
#define KEL_SVC_LASTERROR     4
#define KEL_SVC_STOP          7
#define KEL_SVC_PARAMS        11
#define KEL_SVC_NODIALOGS     23
#define KEL_SVC_REPORTER      24   /* p1 = KelReportCallback, p2 = context */
#define KEL_SVC_TRACE         25   /* p1 = trace file (8-bit) or p2 (wide), n = options, n2 != 0 new file */
#define KEL_SVC_UNCOMPRESS    33   /* p1 = buffer, n = compressed length, n2 = uncompressed size */
