// The waits on processes end promptly on a stop request set from another
// thread (the way a console host's Ctrl+C arrives: DLLServices 7, no window
// message) and are bounded by their time-outs; through the host entries, a
// script waiting for a program ends within moments of the stop.
#include <gtest/gtest.h>
#include "owned_state.h"
#include "stop_request.h"
#include "library/processes/proc_internal.h"
#include "eval.h"
#include <set>
#include <string>
#include <tlhelp32.h>

namespace {

using proc::Waited;

// The session's desktop is made ready before any child starts: when this
// process and a child both found it missing at the same moment, each would
// start a desktop process of its own, and the loser outlives the test.
class DesktopFirst : public testing::Environment {
public:
    void SetUp() override { GetDesktopWindow(); }
};
const testing::Environment* const g_desktop = testing::AddGlobalTestEnvironment(new DesktopFirst);

// A program started by the test and ended by it, by its handle, whatever
// the test's outcome.
class Child {
public:
    explicit Child(const wchar_t* command, DWORD flags = 0) {
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        std::wstring line = command;
        ok_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &si, &pi_) != 0;
    }
    ~Child() {
        if (!ok_) return;
        TerminateProcess(pi_.hProcess, 0);
        WaitForSingleObject(pi_.hProcess, 5000);
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool ok() const { return ok_; }
    HANDLE process() const { return pi_.hProcess; }
    DWORD id() const { return pi_.dwProcessId; }

private:
    PROCESS_INFORMATION pi_ = {};
    bool ok_ = false;
};

class ProcWait : public testing::Test, protected OwnedState {
protected:
    void SetUp() override { ASSERT_TRUE(build(50, 4 << 20)); }
    void TearDown() override { discard(); }
};

// The wait for a process ends on a stop request, or at its time-out (the
// process's own end: processes/launch.kel, RunWait and @GETEXITCODE).
TEST_F(ProcWait, WaitForAProcessEndsOnAStopAndAtItsTimeOut) {
    Child notepad(L"notepad.exe");
    ASSERT_TRUE(notepad.ok());
    Waited w = Waited::Signaled;
    const ULONGLONG ms = run_with_stop_after(st, 300, [&] { w = proc::wait_handle(st, notepad.process(), proc::kNoTimeLimit); });
    EXPECT_EQ(w, Waited::Stopped);
    EXPECT_GE(ms, 250u);
    EXPECT_LT(ms, 3000u);
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_EQ(proc::wait_handle(st, notepad.process(), 500), Waited::TimedOut);
    const ULONGLONG bounded = GetTickCount64() - t0;
    EXPECT_GE(bounded, 450u);
    EXPECT_LT(bounded, 3000u);
}

// A suspended program never becomes ready for input: the input-idle wait
// runs to its bound, or to the stop request.
TEST_F(ProcWait, InputIdleWaitEndsOnAStopAndAtItsBound) {
    Child frozen(L"notepad.exe", CREATE_SUSPENDED);
    ASSERT_TRUE(frozen.ok());
    const ULONGLONG stopped = run_with_stop_after(st, 300, [&] { proc::wait_input_idle(st, frozen.process(), 60000); });
    EXPECT_GE(stopped, 250u);
    EXPECT_LT(stopped, 3000u);
    const ULONGLONG t0 = GetTickCount64();
    proc::wait_input_idle(st, frozen.process(), 400);
    const ULONGLONG bounded = GetTickCount64() - t0;
    EXPECT_GE(bounded, 350u);
    EXPECT_LT(bounded, 3000u);
}

// A script never ends, nor waits for, the process it runs in.
TEST_F(ProcWait, TheScriptsOwnProcessIsLeftAlone) {
    Cell args[4], result;
    cell_init(&result);
    cell_init(&args[0]);
    cell_set_int(st, &args[1], static_cast<int32_t>(GetCurrentProcessId()));
    ASSERT_TRUE(conv_to_wide(st, &args[1]));
    cell_init(&args[2], 2);   // a process id
    cell_init(&args[3], 1);   // every match
    fn_terminateapp(st, 3, &result, args, true);
    EXPECT_EQ(st->err, 0);
    EXPECT_EQ(result.i, 0);
    fn_appwaitclose(st, 1, &result, args, true);   // the id alone, no time limit: at once
    EXPECT_EQ(result.i, 1);
    cell_release(st, &args[1], CM_BARE);
    cell_release(st, &result, CM_BARE);
}

TEST(ProcTimeouts, SecondsAsTheAppMembersTakeThem) {
    EXPECT_EQ(proc::timeout_ms(-1), proc::kNoTimeLimit);
    EXPECT_EQ(proc::timeout_ms(-2), 0u);
    EXPECT_EQ(proc::timeout_ms(0), 0u);
    EXPECT_EQ(proc::timeout_ms(3), 3000u);
    EXPECT_EQ(proc::timeout_ms(86401), 86400000u);
}

// ---- through the host entries, as kel.exe's Ctrl+C handler does it ----------

std::set<DWORD> notepads() {
    std::set<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W e = {};
    e.dwSize = sizeof e;
    for (BOOL more = Process32FirstW(snap, &e); more; more = Process32NextW(snap, &e))
        if (_wcsicmp(e.szExeFile, L"notepad.exe") == 0) ids.insert(e.th32ProcessID);
    CloseHandle(snap);
    return ids;
}

class ProcHost : public testing::Test {
protected:
    HostRun host;
    std::set<DWORD> before;
    void SetUp() override {
        before = notepads();
        ASSERT_TRUE(host.open());
    }
    void TearDown() override {
        host.close();
        // End the programs the scripts started, by their ids.
        for (DWORD id : notepads()) {
            if (before.count(id)) continue;
            HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
            if (!h) continue;
            TerminateProcess(h, 0);
            WaitForSingleObject(h, 5000);
            CloseHandle(h);
        }
    }
};

// Each script sets x to 1 before its wait begins; the stop comes 300 ms
// later and must end the run within moments, before x = 2.
TEST_F(ProcHost, StopRequestEndsTheWaitsPromptly) {
    const char* waits[] = {
        "RunWait(\"notepad.exe\", \"\")",
        "RunShell(\"notepad.exe\", \"\", \"\", @NORMAL, @GETEXITCODE)",
        "ShellExecuteWait(\"notepad.exe\", \"\", \"\", @NORMAL, \"\")",
        "AppWaitClose(RunShell(\"notepad.exe\", \"\", \"\", @NORMAL, @GETPROCID))",
        "AppExist(\"kel-no-such-program.exe\", 0, -1)",
        "AppProcId(\"kel-no-such-program.exe\", 0, 60)",
    };
    for (const char* wait : waits) {
        const ULONGLONG ms = host.run_and_stop(std::string("x = 1\n") + wait + "\nx = 2\n", 300, "x");
        EXPECT_LT(ms, 2000u) << wait;
        EXPECT_EQ(host.var("x"), "1") << wait;   // the run ends after the statement that waited
    }
}

}  // namespace
