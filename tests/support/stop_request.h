// Stop requests the way a console host delivers them: set from another thread
// while the script thread waits, with no window message. For tests of waits
// that must end promptly on a stop.
#pragma once
#include "state.h"
#include "kel.h"
#include <windows.h>
#include <cstring>
#include <string>
#include <thread>

extern "C" int64_t DoDaDllInit(HWND, HGLOBAL, uint64_t, uint16_t, uint64_t, const char*, const char*);
extern "C" int ProcessDaBatBuffer(HWND, HGLOBAL, HGLOBAL, uint64_t, const KelFunction*);
extern "C" int64_t DLLServices(HGLOBAL, int, void*, void*, int64_t, int64_t);

// Runs `wait()` on this thread while another thread sets the state's stop
// request after `ms` milliseconds; returns how long `wait()` took.
template <class Wait>
ULONGLONG run_with_stop_after(State* st, DWORD ms, Wait wait) {
    st->stopRequest = 0;
    std::thread stopper([st, ms] {
        Sleep(ms);
        st->stopRequest = 1;
    });
    const ULONGLONG t0 = GetTickCount64();
    wait();
    const ULONGLONG took = GetTickCount64() - t0;
    stopper.join();
    st->stopRequest = 0;
    return took;
}

// An interpreter state driven only through the exported host entries, as
// kel.exe drives one: scripts run on a thread of their own and the test asks
// for the stop with DLLServices 7, as kel.exe's Ctrl+C handler does.
class HostRun {
public:
    HostRun() = default;
    HostRun(const HostRun&) = delete;
    HostRun& operator=(const HostRun&) = delete;
    ~HostRun() { close(); }

    // Requests 0 to 3; false when a step failed.
    bool open() {
        const int64_t size = DoDaDllInit(nullptr, nullptr, KEL_INTERFACE_VERSION << 8, KEL_REQ_VERSION, 0, nullptr, nullptr);
        state_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(size));
        vars_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 100 * 96);
        heap_ = VirtualAlloc(nullptr, 16 << 20, MEM_RESERVE, PAGE_READWRITE);
        return state_ && vars_ && heap_ && DoDaDllInit(nullptr, state_, 0, KEL_REQ_INIT, 0, nullptr, nullptr) == 96 &&
               DoDaDllInit(nullptr, state_, reinterpret_cast<uint64_t>(vars_), KEL_REQ_VARTABLE, 100, "T", "1") == 1 &&
               DoDaDllInit(nullptr, state_, reinterpret_cast<uint64_t>(heap_), KEL_REQ_HEAP, 16 << 20, nullptr,
                           "stop.kel") == 1;
    }

    // Request 99, then frees the blocks.
    void close() {
        if (state_) {
            int unregister = 1;
            DoDaDllInit(nullptr, state_, 0, KEL_REQ_TEARDOWN, reinterpret_cast<uint64_t>(&unregister), nullptr, nullptr);
            GlobalFree(state_);
        }
        if (script_) GlobalFree(script_);
        if (vars_) GlobalFree(vars_);
        if (heap_) VirtualFree(heap_, 0, MEM_RELEASE);
        state_ = script_ = vars_ = nullptr;
        heap_ = nullptr;
    }

    // Runs `text` on another thread. Once the variable `ready` reads 1 (at
    // once when no name is given) and `delayMs` more have passed, asks for a
    // stop. Returns how long the run went on after the stop request.
    ULONGLONG run_and_stop(const std::string& text, DWORD delayMs, const char* ready = nullptr) {
        if (script_) GlobalFree(script_);
        script_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, text.size() + 1);
        memcpy(GlobalLock(script_), text.data(), text.size());
        GlobalUnlock(script_);
        std::thread runner([this] { ProcessDaBatBuffer(nullptr, state_, script_, 0, nullptr); });
        for (int i = 0; ready && i < 400 && var(ready) != "1"; ++i) Sleep(50);
        Sleep(delayMs);
        const ULONGLONG t0 = GetTickCount64();
        DLLServices(state_, KEL_SVC_STOP, nullptr, nullptr, 0, 0);
        runner.join();
        return GetTickCount64() - t0;
    }

    // A variable's value as text ("<none>" when it has none).
    std::string var(const char* name) {
        char buf[64] = "<none>";
        DLLServices(state_, 2, const_cast<char*>(name), buf, sizeof buf, 0);
        return buf;
    }

private:
    HGLOBAL state_ = nullptr, vars_ = nullptr, script_ = nullptr;
    void*   heap_ = nullptr;
};
