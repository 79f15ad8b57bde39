// The host entry points: DllMain, DoDaDllInit (version query, initialisation,
// variable table, string heap, tear-down) and ProcessDaBatBuffer (run one
// script buffer).
//
// The host owns every block (state, variable table, heap region, scripts);
// the state is locked on each entry and unlocked before returning. Entries are
// serialised by the process-wide busy counter (loader.h BusyHold).
#include "errors.h"
#include "eval.h"
#include "dispatch.h"
#include "exec.h"
#include "heap.h"
#include "kel.h"
#include "loader.h"
#include "linecache.h"
#include "value.h"
#include <cstring>

HINSTANCE g_hInst = nullptr;

namespace {

volatile LONG g_busy = 0;
HCURSOR g_waitCursor = nullptr;
HCURSOR g_arrowCursor = nullptr;

// ------------------------------------------------------------ window classes
//
// The classes belong to the library; the modules that create windows of them
// install their window procedures in g_classProcs (loader.h). Until then the
// measuring class uses the default window procedure, cx9wcdlg (dialog
// templates) the default dialog procedure and the two popup classes the
// default window procedure.

enum { CLS_MEASURE = 0, CLS_DLG = 1, CLS_DLG2 = 2, CLS_DLG3 = 3 };
const char* const kClassNames[4] = {"cx8wcmmn", "cx9wcdlg", "cx0wcdl2", "cx0wcdl3"};
LONG g_classesRegistered = 0;

template <int K>
LRESULT CALLBACK class_proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (WNDPROC p = g_classProcs[K]) return CallWindowProcW(p, h, m, w, l);
    if (K == CLS_DLG) return DefDlgProcA(h, m, w, l);
    if (K == CLS_DLG3) return DefWindowProcW(h, m, w, l);
    return DefWindowProcA(h, m, w, l);
}

void register_classes() {
    if (InterlockedCompareExchange(&g_classesRegistered, 1, 0) != 0) return;
    WNDCLASSA wc{};
    wc.hInstance = g_hInst;
    wc.hCursor = g_arrowCursor;
    wc.lpfnWndProc = class_proc<CLS_MEASURE>;
    wc.lpszClassName = kClassNames[CLS_MEASURE];
    RegisterClassA(&wc);

    wc.style = CS_DBLCLKS | CS_SAVEBITS;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = LoadIconA(g_hInst, "MYICON");
    wc.lpfnWndProc = class_proc<CLS_DLG>;
    wc.lpszClassName = kClassNames[CLS_DLG];
    RegisterClassA(&wc);
    wc.lpfnWndProc = class_proc<CLS_DLG2>;
    wc.lpszClassName = kClassNames[CLS_DLG2];
    RegisterClassA(&wc);

    WNDCLASSW ww{};
    ww.style = wc.style;
    ww.cbWndExtra = DLGWINDOWEXTRA;
    ww.hInstance = g_hInst;
    ww.hCursor = g_arrowCursor;
    ww.hIcon = wc.hIcon;
    ww.hbrBackground = wc.hbrBackground;
    ww.lpfnWndProc = class_proc<CLS_DLG3>;
    ww.lpszClassName = L"cx0wcdl3";
    RegisterClassW(&ww);
}

void unregister_classes() {
    if (InterlockedCompareExchange(&g_classesRegistered, 0, 1) != 1) return;
    for (int k = 0; k < 3; ++k) UnregisterClassA(kClassNames[k], g_hInst);
    UnregisterClassW(L"cx0wcdl3", g_hInst);
}

// ------------------------------------------------------------ initialisation

int32_t windows_version() {
    typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOW*);
    OSVERSIONINFOW vi{};
    vi.dwOSVersionInfoSize = sizeof vi;
    auto fn = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
    if (!fn || fn(&vi) != 0) return 0;
    return static_cast<int32_t>(vi.dwMajorVersion * 100 + vi.dwMinorVersion);
}

// Request 1: defaults of a fresh state.
void init_state(State* st, HGLOBAL handle) {
    memset(st, 0, sizeof *st);
    st->selfHandle = handle;
    st->options = 3;               // bit 0 #include processing, bit 1 run-time #include
    st->curUdf = 65535;
    st->pendingIf = -1;
    st->errorMode = EM_CANCEL;
    st->errHandlerMode = 0;
    st->codePage = CP_ACP;
    st->prevTok = NOKEYWORD;
    eval_state_init(st);           // Decimals -1 and the evaluator's other fields
    st->winVersion = windows_version();
    st->sounds = settings_int("CORVEXRC", "MAIN", "Sounds", 0) != 0;
    st->prettyDialogs = settings_int("CORVEXRC", "MAIN", "PrettyDialogs", 1) != 0;
}

// Request 2 measures the frame that a caption and sizing border add.
void measure_frame(State* st) {
    HWND w = CreateWindowExA(0, kClassNames[CLS_MEASURE], "", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr,
                             nullptr, g_hInst, nullptr);
    if (!w) return;
    RECT wr, cr;
    if (GetWindowRect(w, &wr) && GetClientRect(w, &cr)) {
        st->frameCx = (wr.right - wr.left) - (cr.right - cr.left);
        st->frameCy = (wr.bottom - wr.top) - (cr.bottom - cr.top);
    }
    DestroyWindow(w);
}

// Request 3: "=C:" and friends hold the current directory of each drive, the
// way command interpreters keep it, so relative "C:name" paths resolve.
void record_drive_directory() {
    char dir[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(MAX_PATH, dir);
    if (n < 2 || n >= MAX_PATH || dir[1] != ':') return;
    char name[4] = {'=', static_cast<char>(toupper(static_cast<unsigned char>(dir[0]))), ':', 0};
    SetEnvironmentVariableA(name, dir);
}

constexpr uint64_t HEAP_INITIAL = 64 * 1024;

// ------------------------------------------------------------------ tear-down

void release_variables(State* st) {
    while (st->level > 0) scope_pop(st);
    if (!st->vars) return;
    for (uint16_t i = 1; i < st->varUsed; ++i) var_drop(st, i);
    GlobalUnlock(st->varTable);
    st->vars = nullptr;
}

void teardown(State* st) {
    lines_forget_all(st);
    running_pool_free(st);
    foreach_release_all(st);
    udf_free_all(st);
    release_variables(st);
    library_teardown(st);
    for (HMODULE& m : st->extenders)
        if (m) FreeLibrary(m), m = nullptr;
    for (HMODULE& m : st->libs)
        if (m) FreeLibrary(m), m = nullptr;
    err_detail_free(st);
    for (int i = 0; i < 4; ++i) pump_messages(st);
}

// ------------------------------------------------------------------- running

void reset_run_state(State* st) {
    st->stopRequest = 0;
    st->stopShowMsg = 0;
    st->traceOn = st->traceAtStart;   // a host may ask for the trace from the first line
    st->stackCount = 0;
    st->loopFlag = 0;
    st->errorMode = EM_CANCEL;
    st->pendingIf = -1;
    st->lastErr = 0;
    st->err = 0;
    st->savedErr = 0;
    st->pendingErr = 0;
    st->pendingLineTooLong = 0;
    st->callDepth = 0;
    st->udfNesting = 0;
    st->inUdf = 0;
    st->inExecute = 0;
    st->inDefinition = 0;
    st->curUdf = 65535;
    st->answerFailed = 0;
    st->runErr = 0;
    st->curBuffer = nullptr;       // the main script is not nested in anything
    snprintf(st->curFile, sizeof st->curFile, "%s", st->mainFile);
}

// How the run ended, for DLLServices 4: 0 at the end of the script or after
// Exit, otherwise the error (for errors already reported inside a function or
// a called script, the error itself rather than its control code).
uint16_t run_outcome(State* st, int rc) {
    if (rc != 0) return 0;
    uint16_t e = st->err;
    if (e == 9000) return 0;
    if (e == 0 || e == 9013 || e == 9014 || e == 9015 || e == 9016) return st->lastErr ? st->lastErr : (e ? e : 9999);
    return e;
}

}  // namespace

WNDPROC g_classProcs[4] = {nullptr, nullptr, nullptr, nullptr};

BusyHold::BusyHold() {
    while (InterlockedCompareExchange(&g_busy, 1, 0) != 0) Sleep(50);
}
BusyHold::~BusyHold() { InterlockedExchange(&g_busy, 0); }

int settings_int(const char* fileBase, const char* section, const char* key, int def) {
    char path[300];
    snprintf(path, sizeof path, "Software\\Talvorn\\Settings\\%s\\%s", fileBase, section);
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return def;
    char buf[64];
    DWORD type = 0, size = sizeof buf - 1;
    LONG rc = RegQueryValueExA(k, key, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS) return def;
    if (type == REG_DWORD && size == 4) {
        DWORD v;
        memcpy(&v, buf, 4);
        return static_cast<int>(v);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return def;
    buf[size] = 0;
    return static_cast<int>(strtol(buf, nullptr, 10));
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) g_hInst = module;
    return TRUE;
}

extern "C" int64_t DoDaDllInit(HWND hwnd, HGLOBAL hState, uint64_t a3, uint16_t request, uint64_t a5,
                               const char* text1, const char* text2) {
    BusyHold busy;
    if (request == KEL_REQ_VERSION) {
        if (((a3 >> 8) & 0xFF) != INTERFACE_VERSION) {
            MessageBoxA(hwnd, "Version Interface Incompatible", "DLL mismatch", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
            return 0;
        }
        return STATE_SIZE;
    }
    if (request != KEL_REQ_INIT && request != KEL_REQ_VARTABLE && request != KEL_REQ_HEAP &&
        request != KEL_REQ_TEARDOWN)
        return 0;
    if (!hState || GlobalSize(hState) < sizeof(State)) return 0;
    GMemLock lock(hState);
    if (!lock) return 0;
    State* st = lock.get<State>();

    switch (request) {
    case KEL_REQ_INIT:
        if (!g_hInst) g_hInst = GetModuleHandleA(nullptr);
        if (!g_waitCursor) g_waitCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT));
        if (!g_arrowCursor) g_arrowCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        init_state(st, hState);
        scramble_init();
        register_classes();
        return 96;
    case KEL_REQ_VARTABLE: {
        HGLOBAL table = reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(a3));
        if (!table || a5 < 2) return 0;
        st->hostWnd = hwnd;
        snprintf(st->hostId1, sizeof st->hostId1, "%.19s", text1 ? text1 : "");
        snprintf(st->hostId2, sizeof st->hostId2, "%.19s", text2 ? text2 : "");
        measure_frame(st);
        scope_start(st, table, static_cast<uint16_t>(a5 > 65535 ? 65535 : a5));
        return st->vars ? 1 : 0;
    }
    case KEL_REQ_HEAP: {
        uint8_t* base = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(a3));
        if (!base || !heap_init(st, base, a5, a5 && a5 < HEAP_INITIAL ? a5 : HEAP_INITIAL)) return 0;
        st->hostText = text2;
        snprintf(st->mainFile, sizeof st->mainFile, "%s", text2 ? text2 : "");
        snprintf(st->curFile, sizeof st->curFile, "%s", st->mainFile);
        record_drive_directory();
        return 1;
    }
    case KEL_REQ_TEARDOWN:
        teardown(st);
        if (a5 && *reinterpret_cast<const int*>(static_cast<uintptr_t>(a5))) unregister_classes();
        return 1;
    }
    return 0;
}

extern "C" int ProcessDaBatBuffer(HWND hwnd, HGLOBAL hState, HGLOBAL script, uint64_t hostValue,
                                  const KelFunction* hostTable) {
    BusyHold busy;
    GMemLock lock(hState);
    if (!lock || !script) return 0;
    State* st = lock.get<State>();
    if (!st->heapBase || !st->vars) return 0;   // requests 2 and 3 have not been made
    st->selfHandle = hState;
    st->hostWnd = hwnd;
    HWND parent = hwnd ? GetParent(hwnd) : nullptr;
    st->ownerWnd = parent ? parent : hwnd;
    st->runErr = 0;

    HGLOBAL buf = script;
    char dir[MAX_PATH];
    path_dir(st->mainFile, dir, sizeof dir);
    if (!prepare_buffer(st, &buf, st->mainFile, dir[0] ? dir : nullptr)) return 0;

    st->hostFuncs = reinterpret_cast<const KeywordRec*>(hostTable);
    st->hostValue = hostValue;
    while (st->level > 0) scope_pop(st);   // a run never starts inside a function scope
    lines_forget_all(st);                  // the host may hand a new script in an old block
    reset_run_state(st);

    pump_messages_for(st, 20);
    SetCursor(g_waitCursor);

    Cell result;
    cell_init(&result, 0);
    uint32_t pos = 0;
    int rc = line_loop(st, &result, buf, &pos, nullptr);
    cell_release(st, &result, CM_BARE);
    st->runErr = run_outcome(st, rc);
    st->lastResult = static_cast<uint32_t>(rc);

    SetCursor(g_arrowCursor);
    pump_messages(st);
    if (buf != script) GlobalFree(buf);
    return 1;
}
