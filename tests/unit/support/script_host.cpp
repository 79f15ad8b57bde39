#include "support/script_host.h"
#include "support/alloc_hooks.h"
#include "support/repo.h"
#include "kel.h"
#include "state.h"
#include "heap.h"
#include <malloc.h>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>

extern "C" int64_t DoDaDllInit(HWND, HGLOBAL, uint64_t, uint16_t, uint64_t, const char*, const char*);
extern "C" int ProcessDaBatBuffer(HWND, HGLOBAL, HGLOBAL, uint64_t, const KelFunction*);
extern "C" int64_t DLLServices(HGLOBAL, int, void*, void*, int64_t, int64_t);

namespace {

constexpr DWORD kHangMs = 20000;           // one run longer than this is a hang
constexpr int kVarSlots = 300;
constexpr uint64_t kHeapReserve = 32ull << 20;

// ---- the host side --------------------------------------------------------
// One run at a time: the entry and the report callback write here.

int g_budget = 3000;
std::atomic<int> g_statements{0};
bool g_stopped = false;
RunOutcome* g_outcome = nullptr;
int g_heapBoxes = 0;
std::string g_heapBox;

std::string value_text(const KelValue& v) {
    if ((v.type & 0x80) && v.wstr) {
        int n = WideCharToMultiByte(CP_ACP, 0, v.wstr, -1, nullptr, 0, nullptr, nullptr);
        std::string s(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
        if (n > 1) WideCharToMultiByte(CP_ACP, 0, v.wstr, -1, s.data(), n, nullptr, nullptr);
        return s;
    }
    if ((v.type & 2) && v.str) return v.str;
    return std::string();
}

int64_t host_entry(HWND, void*, uint32_t, int32_t request, void* p1, KelServices* sv, void*, void* p4, int64_t n,
                   void*) {
    if (request == -1) {
        if (++g_statements <= g_budget) return 0;
        g_stopped = true;
        return 9012;
    }
    if (request == -7) {                   // an error, before any handler sees it
        inject::HostScope own;
        if (g_outcome) g_outcome->errors.push_back(static_cast<int>(n));
        return 0;
    }
    if (request < 0) return 0;
    KelAnswer answer = reinterpret_cast<KelAnswer>(p1);
    if (request == 0 || request == 1) {    // StdOut, StdErr
        {
            inject::HostScope own;
            const auto* args = static_cast<const KelValue*>(p4);
            if (g_outcome && args && n > 0) g_outcome->out += value_text(args[0]) + "\n";
        }
        KelValue v{};
        v.type = 1;
        v.ival = 1;
        return answer(0, 0, sv, &v);
    }
    if (request == 2) {                    // StdIn: an empty line
        KelValue v{};
        v.type = 2;
        v.str = "";
        return answer(0, 0, sv, &v);
    }
    return -3;
}

KelFunction host_fn(uint32_t code, uint64_t types, uint32_t required, const char* name) {
    KelFunction f{};
    f.code = code;
    f.cls = 2;
    f.argTypes = types;
    f.value = required;
    f.nameLen = static_cast<uint16_t>(strlen(name));
    memcpy(f.name, name, f.nameLen);
    return f;
}
const KelFunction kHostTable[] = {host_fn(0, 6, 1, "stdout"), host_fn(1, 6, 1, "stderr"), host_fn(2, 0, 0, "stdin"),
                                  KelFunction{}};

int report(void*, const KelReport* r) {
    inject::HostScope own;
    if (g_outcome && r && r->kind == 0) g_outcome->errors.push_back(static_cast<int>(r->errNum));
    return 0;                              // the default answer of each report
}

void heap_box(const char* title, const char* text) {
    ++g_heapBoxes;
    g_heapBox = std::string(title) + ": " + text;
}

// ---- the watchdog -----------------------------------------------------------

std::string g_current;
std::atomic<DWORD> g_started{0};
std::atomic<bool> g_running{false};

DWORD WINAPI watchdog(void*) {
    for (;;) {
        Sleep(200);
        if (g_running && GetTickCount() - g_started > kHangMs) {
            fprintf(stderr, "\n*** hang: this script did not finish ***\n%s\n*** end ***\n", g_current.c_str());
            fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

std::string temp_path(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name;
}

// Blocks of the string heap marked in use, walked by their head tags and
// sizes from the end of the 80-byte header to the end marker.
int blocks_in_use(State* st) {
    int n = 0;
    for (uint64_t b = 80; b < st->heapEnd;) {
        uint64_t size;
        memcpy(&size, st->heapBase + b + 8, 8);
        if (memcmp(st->heapBase + b, "5678", 4) == 0) ++n;
        if (size == 0) break;
        b += size;
    }
    return n;
}

// A library entry, armed when asked, with any escaping exception caught.
template <class F>
auto call(bool armed, std::string* escaped, F f) -> decltype(f()) {
    try {
        if (!armed) return f();
        inject::Armed a;
        return f();
    } catch (const std::exception& e) {
        *escaped = std::string("an exception came out of the library: ") + e.what();
    } catch (...) {
        *escaped = "an exception came out of the library";
    }
    return decltype(f())();
}

}  // namespace

ScriptHost::ScriptHost() {
    size_ = DoDaDllInit(nullptr, nullptr, KEL_INTERFACE_VERSION << 8, KEL_REQ_VERSION, 0, nullptr, nullptr);
    static HANDLE dog = CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr);
    (void)dog;
    last_ = temp_path("kel_fuzz_last.kel");
}

bool ScriptHost::run(const std::vector<std::string>& buffers, const std::string& name, std::string* why) {
    outcome = RunOutcome{};
    g_outcome = &outcome;
    g_budget = budget;
    g_heapBoxes = 0;
    HeapBoxHook savedBox = g_heapBoxHook;
    g_heapBoxHook = heap_box;
    inject::forget_live_blocks();
    // A script may change the current folder (DirChange) and stop before it
    // changes it back: the next run starts where this one did.
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof folder, folder);

    std::string all;
    for (const std::string& b : buffers) all += b + "\r\n;---- next buffer ----\r\n";
    if (FILE* f = fopen(last_.c_str(), "wb")) {   // for a crash post mortem
        fwrite(all.data(), 1, all.size(), f);
        fclose(f);
    }
    g_current = all;

    HGLOBAL state = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(size_));
    HGLOBAL vars = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kVarSlots * 96);
    void* heap = VirtualAlloc(nullptr, kHeapReserve, MEM_RESERVE, PAGE_READWRITE);
    std::string escaped, problem;
    call(armed, &escaped, [&] {
        DoDaDllInit(nullptr, state, 0, KEL_REQ_INIT, 0, nullptr, nullptr);
        DoDaDllInit(nullptr, state, reinterpret_cast<uint64_t>(vars), KEL_REQ_VARTABLE, kVarSlots, "Fuzz", "1");
        DoDaDllInit(nullptr, state, reinterpret_cast<uint64_t>(heap), KEL_REQ_HEAP, kHeapReserve, nullptr,
                    name.c_str());
        DLLServices(state, KEL_SVC_REPORTER, reinterpret_cast<void*>(&report), nullptr, 0, 0);
        DLLServices(state, 60, nullptr, nullptr, HN_PERLINE | HN_ERRORS, 1);
        return 0;
    });

    char buf[256] = "";
    for (const std::string& text : buffers) {
        if (!escaped.empty()) break;
        HGLOBAL script = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, text.size() + 1);
        memcpy(GlobalLock(script), text.data(), text.size());
        GlobalUnlock(script);
        g_statements = 0;
        g_stopped = false;
        g_started = GetTickCount();
        g_running = true;
        const int started = call(armed, &escaped, [&] {
            if (!params.empty() &&
                !DLLServices(state, KEL_SVC_PARAMS, const_cast<char*>(params.c_str()), nullptr, 0, 0)) {
                inject::HostScope own;
                outcome.errors.push_back(kParamsRefused);
            }
            return ProcessDaBatBuffer(nullptr, state, script, reinterpret_cast<uint64_t>(&host_entry), kHostTable);
        });
        g_running = false;
        statements = g_statements;
        GlobalFree(script);
        outcome.started = outcome.started && started == 1;
        outcome.stopped = outcome.stopped || g_stopped;
        outcome.runErr = static_cast<int>(DLLServices(state, KEL_SVC_LASTERROR, nullptr, nullptr, 0, 0));
        auto* st = static_cast<State*>(GlobalLock(state));
        const bool consistent = heap_check(st, buf, sizeof buf);
        GlobalUnlock(state);
        if (!consistent) {
            problem = std::string("string heap inconsistent: ") + buf;
            break;
        }
    }

    {
        auto* st = static_cast<State*>(GlobalLock(state));
        usedBeforeTeardown = blocks_in_use(st);
        GlobalUnlock(state);
    }
    int unregister = 0;
    call(armed, &escaped, [&] {
        return DoDaDllInit(nullptr, state, 0, KEL_REQ_TEARDOWN, reinterpret_cast<uint64_t>(&unregister), nullptr,
                           nullptr);
    });
    if (problem.empty() && escaped.empty()) {
        auto* st = static_cast<State*>(GlobalLock(state));
        const int used = blocks_in_use(st);
        GlobalUnlock(state);
        if (used > 0) problem = std::to_string(used) + " string heap blocks still in use after the tear-down";
    }
    if (problem.empty()) {
        for (const inject::LiveBlock& b : inject::live_blocks())
            if (!inject::runtime_owned(b.caller)) problem += std::string(problem.empty() ? "" : "; ") + inject::kind_name(b.kind) + " block of " +
                       std::to_string(b.bytes) + " bytes still held after the tear-down, allocated at " +
                       inject::describe_address(b.caller);
    }
    inject::forget_live_blocks();
    GlobalFree(vars);
    GlobalFree(state);
    VirtualFree(heap, 0, MEM_RELEASE);
    g_heapBoxHook = savedBox;
    g_outcome = nullptr;
    if (*folder) SetCurrentDirectoryA(folder);

    if (problem.empty() && g_heapBoxes) problem = "the string heap allocator complained: " + g_heapBox;
    if (problem.empty() && validateHeaps) {
        if (!HeapValidate(GetProcessHeap(), 0, nullptr)) problem = "the process heap is damaged";
        else if (_heapchk() != _HEAPOK) problem = "the C runtime heap is damaged";
    }
    if (!escaped.empty()) problem = escaped + (problem.empty() ? "" : "; " + problem);
    if (!problem.empty()) *why = problem;
    return problem.empty();
}

const std::vector<int>& out_of_memory_numbers() {
    static std::vector<int> numbers = [] {
        std::vector<int> v;
        std::ifstream rc(repo_dir() + "\\src\\resources\\messages.rc");
        std::string line;
        const std::regex entry("^\\s*(\\d+),\\s*\"(.*)\"");
        const std::regex memory("allocat|out of memory|lock memory|low on memory", std::regex::icase);
        std::smatch m;
        while (std::getline(rc, line))
            if (std::regex_search(line, m, entry) && std::regex_search(m[2].str(), memory))
                v.push_back(std::stoi(m[1].str()));
        return v;
    }();
    return numbers;
}
