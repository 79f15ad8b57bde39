#include "support/alloc_hooks.h"
#include "support/program_symbols.h"
#include "support/repo.h"
#include "heap.h"
#include <windows.h>
#include <oleauto.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <set>
#include <unordered_map>

namespace inject {

namespace {

// ---- state -----------------------------------------------------------------
// One thread (the one that installed the hooks) is watched. g_busy is set
// while the hooks do their own bookkeeping and inside host scopes, so the
// allocations made there pass straight through.

DWORD g_owner = 0;
int   g_armDepth = 0;
bool  g_busy = false;
SRWLOCK g_lock = SRWLOCK_INIT;   // the live-block table (frees may come from any thread)

uint64_t g_counts[KINDS];
uint64_t g_failAt[KINDS];
Fired    g_fired;
bool     g_record = false;
std::vector<uint32_t> g_paths[KINDS];

ProgramSymbols g_symbols;
std::vector<uintptr_t> g_allocatorFns;   // entry points that only pass a request on (sorted)

struct Path {
    uintptr_t pc[3];
    uint32_t  site;
};
std::vector<Path> g_pathList;                        // id - 1
std::unordered_map<uint64_t, uint32_t> g_pathIds;    // hash of the three addresses
std::vector<uintptr_t> g_siteList;                   // id - 1
std::unordered_map<uintptr_t, uint32_t> g_siteIds;

struct Live {
    int       kind;
    size_t    bytes;
    uintptr_t caller;
};
std::unordered_map<void*, Live> g_live;

bool watched() { return !g_busy && GetCurrentThreadId() == g_owner; }
bool active() { return g_armDepth > 0 && watched(); }

struct Busy {
    bool was = g_busy;
    Busy() { g_busy = true; }
    ~Busy() { g_busy = was; }
};

// ---- sites -------------------------------------------------------------------

bool skipped_frame(uintptr_t pc) {
    const Symbol* s = g_symbols.at(pc);
    if (!s || !s->own) return true;
    return std::binary_search(g_allocatorFns.begin(), g_allocatorFns.end(), s->addr);
}

uint32_t intern_site(uintptr_t pc) {
    auto it = g_siteIds.find(pc);
    if (it != g_siteIds.end()) return it->second;
    g_siteList.push_back(pc);
    return g_siteIds[pc] = static_cast<uint32_t>(g_siteList.size());
}

uint32_t capture_path() {
    void* frames[32];
    const USHORT n = RtlCaptureStackBackTrace(1, 32, frames, nullptr);
    uintptr_t pc[3] = {0, 0, 0};
    int k = 0;
    for (USHORT i = 0; i < n && k < 3; ++i) {
        const uintptr_t a = reinterpret_cast<uintptr_t>(frames[i]);
        if (!skipped_frame(a - 1)) pc[k++] = a;
    }
    const uint64_t key = pc[0] * 0x9E3779B97F4A7C15ull ^ pc[1] * 0xC2B2AE3D27D4EB4Full ^ pc[2] * 0x165667B19E3779F9ull;
    auto it = g_pathIds.find(key);
    if (it != g_pathIds.end()) return it->second;
    g_pathList.push_back({{pc[0], pc[1], pc[2]}, intern_site(pc[0])});
    return g_pathIds[key] = static_cast<uint32_t>(g_pathList.size());
}

// Counts an allocation of `kind`; true when the plan makes it fail.
bool decide(int kind) {
    if (!active()) return false;
    Busy busy;
    const uint64_t n = ++g_counts[kind];
    const bool fail = g_failAt[kind] == n;
    if (g_record || fail) {
        const uint32_t path = capture_path();
        if (g_record) g_paths[kind].push_back(path);
        if (fail) g_fired = Fired{true, kind, n, path};
    }
    if (fail) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return fail;
}

void track(int kind, void* block, size_t bytes, uintptr_t caller) {
    if (!block || !active()) return;
    Busy busy;
    AcquireSRWLockExclusive(&g_lock);
    g_live[block] = Live{kind, bytes, caller};
    ReleaseSRWLockExclusive(&g_lock);
}

void untrack(void* block) {
    if (!block || g_busy) return;
    Busy busy;
    AcquireSRWLockExclusive(&g_lock);
    if (!g_live.empty()) g_live.erase(block);
    ReleaseSRWLockExclusive(&g_lock);
}

#define CALLER reinterpret_cast<uintptr_t>(__builtin_return_address(0))

// ---- the hooked functions ------------------------------------------------------

decltype(&GlobalAlloc) real_GlobalAlloc;
decltype(&GlobalReAlloc) real_GlobalReAlloc;
decltype(&GlobalFree) real_GlobalFree;
decltype(&LocalAlloc) real_LocalAlloc;
decltype(&LocalReAlloc) real_LocalReAlloc;
decltype(&LocalFree) real_LocalFree;
decltype(&HeapAlloc) real_HeapAlloc;
decltype(&HeapReAlloc) real_HeapReAlloc;
decltype(&HeapFree) real_HeapFree;
decltype(&SetClipboardData) real_SetClipboardData;
decltype(&SysAllocString) real_SysAllocString;
decltype(&SysAllocStringLen) real_SysAllocStringLen;
decltype(&SysAllocStringByteLen) real_SysAllocStringByteLen;
decltype(&SysReAllocString) real_SysReAllocString;
decltype(&SysReAllocStringLen) real_SysReAllocStringLen;
void* (*real_malloc)(size_t);
void* (*real_calloc)(size_t, size_t);
void* (*real_realloc)(void*, size_t);
void (*real_free)(void*);
char* (*real_strdup)(const char*);
wchar_t* (*real_wcsdup)(const wchar_t*);

// A fresh block: counted, failed when the plan says so, tracked.
template <class R, class F>
R fresh(int kind, size_t bytes, uintptr_t caller, F make) {
    if (decide(kind)) return R();
    R r = make();
    track(kind, r, bytes, caller);
    return r;
}

// A block resized (it may move): the old one is forgotten once the new one is there.
template <class R, class F>
R resized(int kind, void* old, size_t bytes, uintptr_t caller, F make) {
    if (decide(kind)) return R();
    R r = make();
    if (r) {
        untrack(old);
        track(kind, r, bytes, caller);
    }
    return r;
}

template <class R>
R freed(void* block, R r, bool ok) {
    if (ok) untrack(block);
    return r;
}

HGLOBAL WINAPI hook_GlobalAlloc(UINT flags, SIZE_T n) {
    return fresh<HGLOBAL>(GLOBAL_MEMORY, n, CALLER, [&] { return real_GlobalAlloc(flags, n); });
}
HGLOBAL WINAPI hook_GlobalReAlloc(HGLOBAL h, SIZE_T n, UINT flags) {
    if (flags & GMEM_MODIFY) return real_GlobalReAlloc(h, n, flags);
    return resized<HGLOBAL>(GLOBAL_MEMORY, h, n, CALLER, [&] { return real_GlobalReAlloc(h, n, flags); });
}
HGLOBAL WINAPI hook_GlobalFree(HGLOBAL h) {
    HGLOBAL r = real_GlobalFree(h);
    return freed(h, r, !r);
}
HLOCAL WINAPI hook_LocalAlloc(UINT flags, SIZE_T n) {
    return fresh<HLOCAL>(SYSTEM_HEAP, n, CALLER, [&] { return real_LocalAlloc(flags, n); });
}
HLOCAL WINAPI hook_LocalReAlloc(HLOCAL h, SIZE_T n, UINT flags) {
    if (flags & LMEM_MODIFY) return real_LocalReAlloc(h, n, flags);
    return resized<HLOCAL>(SYSTEM_HEAP, h, n, CALLER, [&] { return real_LocalReAlloc(h, n, flags); });
}
HLOCAL WINAPI hook_LocalFree(HLOCAL h) {
    HLOCAL r = real_LocalFree(h);
    return freed(h, r, !r);
}
LPVOID WINAPI hook_HeapAlloc(HANDLE heap, DWORD flags, SIZE_T n) {
    return fresh<LPVOID>(SYSTEM_HEAP, n, CALLER, [&] { return real_HeapAlloc(heap, flags, n); });
}
LPVOID WINAPI hook_HeapReAlloc(HANDLE heap, DWORD flags, LPVOID p, SIZE_T n) {
    return resized<LPVOID>(SYSTEM_HEAP, p, n, CALLER, [&] { return real_HeapReAlloc(heap, flags, p, n); });
}
BOOL WINAPI hook_HeapFree(HANDLE heap, DWORD flags, LPVOID p) {
    BOOL ok = real_HeapFree(heap, flags, p);
    return freed(p, ok, ok);
}
// The clipboard owns what it was given.
HANDLE WINAPI hook_SetClipboardData(UINT format, HANDLE h) {
    HANDLE r = real_SetClipboardData(format, h);
    return freed(h, r, r != nullptr);
}
// Automation strings are counted and failed only: the system's libraries free them.
BSTR WINAPI hook_SysAllocString(const OLECHAR* s) {
    return decide(SYSTEM_HEAP) ? nullptr : real_SysAllocString(s);
}
BSTR WINAPI hook_SysAllocStringLen(const OLECHAR* s, UINT n) {
    return decide(SYSTEM_HEAP) ? nullptr : real_SysAllocStringLen(s, n);
}
BSTR WINAPI hook_SysAllocStringByteLen(LPCSTR s, UINT n) {
    return decide(SYSTEM_HEAP) ? nullptr : real_SysAllocStringByteLen(s, n);
}
INT WINAPI hook_SysReAllocString(BSTR* b, const OLECHAR* s) {
    return decide(SYSTEM_HEAP) ? FALSE : real_SysReAllocString(b, s);
}
INT WINAPI hook_SysReAllocStringLen(BSTR* b, const OLECHAR* s, UINT n) {
    return decide(SYSTEM_HEAP) ? FALSE : real_SysReAllocStringLen(b, s, n);
}
template <class T>
T* crt(T* p) {
    if (!p) errno = ENOMEM;
    return p;
}
void* hook_malloc(size_t n) {
    return crt(fresh<void*>(SYSTEM_HEAP, n, CALLER, [&] { return real_malloc(n); }));
}
void* hook_calloc(size_t n, size_t size) {
    return crt(fresh<void*>(SYSTEM_HEAP, n * size, CALLER, [&] { return real_calloc(n, size); }));
}
void* hook_realloc(void* p, size_t n) {
    if (p && n == 0) {                 // frees
        untrack(p);
        return real_realloc(p, 0);
    }
    return crt(resized<void*>(SYSTEM_HEAP, p, n, CALLER, [&] { return real_realloc(p, n); }));
}
void hook_free(void* p) {
    untrack(p);
    real_free(p);
}
char* hook_strdup(const char* s) {
    return fresh<char*>(SYSTEM_HEAP, strlen(s) + 1, CALLER, [&] { return real_strdup(s); });
}
wchar_t* hook_wcsdup(const wchar_t* s) {
    return fresh<wchar_t*>(SYSTEM_HEAP, (wcslen(s) + 1) * 2, CALLER, [&] { return real_wcsdup(s); });
}

bool probe_string_heap(uint64_t) { return decide(STRING_HEAP); }

struct Hook {
    const char* name;
    void*       hook;
    void**      real;
};

#define HOOK(fn, name) {name, reinterpret_cast<void*>(&hook_##fn), reinterpret_cast<void**>(&real_##fn)}
const Hook kHooks[] = {
    HOOK(GlobalAlloc, "GlobalAlloc"),   HOOK(GlobalReAlloc, "GlobalReAlloc"), HOOK(GlobalFree, "GlobalFree"),
    HOOK(LocalAlloc, "LocalAlloc"),     HOOK(LocalReAlloc, "LocalReAlloc"),   HOOK(LocalFree, "LocalFree"),
    HOOK(HeapAlloc, "HeapAlloc"),       HOOK(HeapReAlloc, "HeapReAlloc"),     HOOK(HeapFree, "HeapFree"),
    HOOK(SetClipboardData, "SetClipboardData"),
    HOOK(SysAllocString, "SysAllocString"), HOOK(SysAllocStringLen, "SysAllocStringLen"),
    HOOK(SysAllocStringByteLen, "SysAllocStringByteLen"), HOOK(SysReAllocString, "SysReAllocString"),
    HOOK(SysReAllocStringLen, "SysReAllocStringLen"),
    HOOK(malloc, "malloc"), HOOK(calloc, "calloc"), HOOK(realloc, "realloc"), HOOK(free, "free"),
    HOOK(strdup, "_strdup"), HOOK(strdup, "strdup"), HOOK(wcsdup, "_wcsdup"),
};
#undef HOOK

// Replaces every import of the hooked names in this program's import table.
int patch_imports() {
    auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return 0;
    int patched = 0;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk
                                                                                          : d->FirstThunk));
        auto* iat = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++iat) {
            if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal)) continue;
            auto* ibn = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            for (const Hook& h : kHooks) {
                if (strcmp(reinterpret_cast<const char*>(ibn->Name), h.name) != 0) continue;
                DWORD old;
                if (!VirtualProtect(&iat->u1.Function, sizeof iat->u1.Function, PAGE_READWRITE, &old)) break;
                if (!*h.real) *h.real = reinterpret_cast<void*>(iat->u1.Function);
                iat->u1.Function = reinterpret_cast<ULONGLONG>(h.hook);
                VirtualProtect(&iat->u1.Function, sizeof iat->u1.Function, old, &old);
                ++patched;
                break;
            }
        }
    }
    return patched;
}

// The library's exported C names: its own code although unmangled.
std::set<std::string> exported_names() {
    std::set<std::string> names;
    std::ifstream def(repo_dir() + "\\src\\CXDXA64I.def");
    std::string line;
    bool exports = false;
    while (std::getline(def, line)) {
        size_t a = line.find_first_not_of(" \t\r");
        if (a == std::string::npos) continue;
        size_t b = line.find_first_of(" \t\r@=", a);
        std::string word = line.substr(a, b == std::string::npos ? std::string::npos : b - a);
        if (word == "EXPORTS") exports = true;
        else if (exports && a > 0) names.insert(word);
    }
    return names;
}

const char* const kAllocatorEntries[] = {"VMalloc", "heap_strdup(", "heap_wstrdup(", "cell_set_str(",
                                         "cell_set_wstr("};

}  // namespace

const char* kind_name(int kind) {
    static const char* const names[] = {"string heap", "global memory", "system heap"};
    return kind >= 0 && kind < KINDS ? names[kind] : "?";
}

bool install() {
    static int state = 0;   // 0 not yet, 1 done, -1 failed
    if (state) return state > 0;
    state = -1;
    std::set<std::string> own = exported_names();
    if (own.empty() || !g_symbols.load(own)) {
        fprintf(stderr, "inject: this program's symbols or the export list could not be read\n");
        return false;
    }
    for (const Symbol& s : g_symbols.all()) {
        const std::string name = demangle(s.name);
        for (const char* e : kAllocatorEntries)
            if (name.compare(0, strlen(e), e) == 0) g_allocatorFns.push_back(s.addr);
    }
    std::sort(g_allocatorFns.begin(), g_allocatorFns.end());
    g_owner = GetCurrentThreadId();
    if (patch_imports() == 0) {
        fprintf(stderr, "inject: no allocator import could be patched\n");
        return false;
    }
    g_heapAllocProbe = &probe_string_heap;
    state = 1;
    return true;
}

Armed::Armed() { ++g_armDepth; }
Armed::~Armed() { --g_armDepth; }

HostScope::HostScope() : was_(g_busy) { g_busy = true; }
HostScope::~HostScope() { g_busy = was_; }

void reset() {
    Busy busy;
    for (int k = 0; k < KINDS; ++k) {
        g_counts[k] = 0;
        g_failAt[k] = 0;
        g_paths[k].clear();
    }
    g_fired = Fired{};
}

void fail_at(int kind, uint64_t n) { g_failAt[kind] = n; }
Fired fired() { return g_fired; }
void record_paths(bool on) { g_record = on; }
const std::vector<uint32_t>& paths(int kind) { return g_paths[kind]; }

uint32_t site_of(uint32_t path) { return path && path <= g_pathList.size() ? g_pathList[path - 1].site : 0; }

std::string describe_address(uintptr_t addr) {
    Busy busy;
    return addr ? g_symbols.describe(addr) : std::string("?");
}

std::string describe_path(uint32_t path) {
    if (!path || path > g_pathList.size()) return "?";
    std::string s;
    for (uintptr_t pc : g_pathList[path - 1].pc) {
        if (!pc) break;
        if (!s.empty()) s += " <- ";
        s += describe_address(pc);
    }
    return s.empty() ? "?" : s;
}

std::string describe_site(uint32_t site) {
    return site && site <= g_siteList.size() ? describe_address(g_siteList[site - 1]) : "?";
}

std::vector<LiveBlock> live_blocks() {
    Busy busy;
    std::vector<LiveBlock> out;
    AcquireSRWLockExclusive(&g_lock);
    for (const auto& kv : g_live) out.push_back({kv.second.kind, kv.first, kv.second.bytes, kv.second.caller});
    ReleaseSRWLockExclusive(&g_lock);
    return out;
}

bool runtime_owned(uintptr_t caller) {
    static const char* const kRuntime[] = {"pthread_", "_pthread", "__pthread", "__emutls", "mutex_impl"};
    const Symbol* s = g_symbols.at(caller);
    if (!s) return false;
    for (const char* p : kRuntime)
        if (s->name.compare(0, strlen(p), p) == 0) return true;
    return false;
}

void forget_live_blocks() {
    Busy busy;
    AcquireSRWLockExclusive(&g_lock);
    g_live.clear();
    ReleaseSRWLockExclusive(&g_lock);
}

}  // namespace inject
