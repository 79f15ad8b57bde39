// The host entry points driven the way a host drives them: DoDaDllInit
// requests 0 to 3 and 99, ProcessDaBatBuffer on fresh and already prepared
// buffers, and DLLServices to look at the outcome.
#include <gtest/gtest.h>
#include "kel.h"
#include "state.h"
#include <cstring>
#include <string>
#include <vector>

extern "C" int64_t DoDaDllInit(HWND, HGLOBAL, uint64_t, uint16_t, uint64_t, const char*, const char*);
extern "C" int ProcessDaBatBuffer(HWND, HGLOBAL, HGLOBAL, uint64_t, const KelFunction*);
extern "C" int64_t DLLServices(HGLOBAL, int, void*, void*, int64_t, int64_t);

namespace {

std::vector<uint32_t> g_reports;
int capture(void*, const KelReport* r) {
    g_reports.push_back(r->errNum);
    return 0;
}

std::vector<std::string> g_lines;
int64_t notify_entry(HWND, void*, uint32_t, int32_t request, void* p1, KelServices*, void*, void*, int64_t, void*) {
    if (request == -1) g_lines.push_back(static_cast<const char*>(p1));
    return 0;
}

class Host : public testing::Test {
protected:
    HGLOBAL state = nullptr, vars = nullptr;
    void* heap = nullptr;
    std::vector<HGLOBAL> scripts;
    std::string name = "hosttest.kel";

    void SetUp() override {
        g_reports.clear();
        g_lines.clear();
        int64_t size = DoDaDllInit(nullptr, nullptr, KEL_INTERFACE_VERSION << 8, KEL_REQ_VERSION, 0, nullptr, nullptr);
        ASSERT_EQ(size, 83384);
        state = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(size));
        vars = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 500 * 96);
        heap = VirtualAlloc(nullptr, 64 << 20, MEM_RESERVE, PAGE_READWRITE);
        ASSERT_EQ(DoDaDllInit(nullptr, state, 0, KEL_REQ_INIT, 0, nullptr, nullptr), 96);
        ASSERT_EQ(DoDaDllInit(nullptr, state, reinterpret_cast<uint64_t>(vars), KEL_REQ_VARTABLE, 500, "TestHost",
                              "9.9"), 1);
        ASSERT_EQ(DoDaDllInit(nullptr, state, reinterpret_cast<uint64_t>(heap), KEL_REQ_HEAP, 64 << 20, nullptr,
                              name.c_str()), 1);
        DLLServices(state, KEL_SVC_REPORTER, reinterpret_cast<void*>(&capture), nullptr, 0, 0);
    }
    void TearDown() override {
        int unregister = 1;
        EXPECT_EQ(DoDaDllInit(nullptr, state, 0, KEL_REQ_TEARDOWN, reinterpret_cast<uint64_t>(&unregister), nullptr,
                              nullptr), 1);
        for (HGLOBAL h : scripts) GlobalFree(h);
        GlobalFree(vars);
        GlobalFree(state);
        VirtualFree(heap, 0, MEM_RELEASE);
    }
    HGLOBAL Script(const std::string& text) {
        HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, text.size() + 1);
        memcpy(GlobalLock(h), text.data(), text.size());
        GlobalUnlock(h);
        scripts.push_back(h);
        return h;
    }
    int Run(HGLOBAL h, uint64_t hostValue = 0) { return ProcessDaBatBuffer(nullptr, state, h, hostValue, nullptr); }
    std::string Var(const char* name) {
        char buf[256] = "<none>";
        DLLServices(state, 2, const_cast<char*>(name), buf, sizeof buf, 0);
        return buf;
    }
    // A look inside the state block, as the library leaves it between calls.
    template <class F> void Inspect(F f) {
        auto* st = static_cast<State*>(GlobalLock(state));
        f(st);
        GlobalUnlock(state);
    }
};

TEST_F(Host, InitialisationDefaults) {
    Inspect([&](State* st) {
        EXPECT_EQ(st->options, 3u);
        EXPECT_EQ(st->errorMode, 1);
        EXPECT_EQ(st->decimals, -1);
        EXPECT_EQ(st->curUdf, 65535);
        EXPECT_EQ(st->pendingIf, -1);
        EXPECT_STREQ(st->hostId1, "TestHost");
        EXPECT_STREQ(st->hostId2, "9.9");
        EXPECT_STREQ(st->mainFile, name.c_str());
        EXPECT_GT(st->frameCy, 0);
    });
    char dir[MAX_PATH], env[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, dir);
    char var[4] = {'=', dir[0], ':', 0};
    ASSERT_GT(GetEnvironmentVariableA(var, env, MAX_PATH), 0u);
    EXPECT_STREQ(env, dir);
}

TEST_F(Host, VariablesPersistAcrossRunsAndPreparedBuffersRunAgain) {
    HGLOBAL first = Script("a = 1\r\nb = a + 1\r\n");
    ASSERT_EQ(Run(first), 1);
    EXPECT_EQ(Var("b"), "2");
    EXPECT_EQ(DLLServices(state, KEL_SVC_LASTERROR, nullptr, nullptr, 0, 0), 0);
    ASSERT_EQ(Run(Script("c = b * 10\r\n")), 1);
    EXPECT_EQ(Var("c"), "20");
    ASSERT_EQ(Run(Script("a = 5\r\n")), 1);
    ASSERT_EQ(Run(first), 1);   // already prepared: runs as it is
    EXPECT_EQ(Var("b"), "2");
    EXPECT_TRUE(g_reports.empty());
}

TEST_F(Host, RunOutcomeIsReportedToTheHost) {
    ASSERT_EQ(Run(Script("x = 1\r\ny = 1 / 0\r\nz = 1\r\n")), 1);
    EXPECT_EQ(DLLServices(state, KEL_SVC_LASTERROR, nullptr, nullptr, 0, 0), 3062);
    EXPECT_EQ(DLLServices(state, 5, nullptr, nullptr, 0, 0), 0);
    EXPECT_EQ(Var("z"), "<none>");
    ASSERT_EQ(g_reports.size(), 1u);

    ASSERT_EQ(Run(Script("q = 1\r\nExit\r\nq = 2\r\n")), 1);
    EXPECT_EQ(DLLServices(state, KEL_SVC_LASTERROR, nullptr, nullptr, 0, 0), 0);
    EXPECT_EQ(Var("q"), "1");
}

TEST_F(Host, PreparationFailureDoesNotRun) {
    EXPECT_EQ(Run(Script("r = 1\r\n#include \"no such file.kel\"\r\n")), 0);
    EXPECT_EQ(DLLServices(state, KEL_SVC_LASTERROR, nullptr, nullptr, 0, 0), 217);
    EXPECT_EQ(Var("r"), "<none>");
    ASSERT_EQ(g_reports.size(), 1u);
    EXPECT_EQ(g_reports[0], 217u);
}

TEST_F(Host, PerLineNotifications) {
    DLLServices(state, 60, nullptr, nullptr, HN_PERLINE, 1);
    ASSERT_EQ(ProcessDaBatBuffer(nullptr, state, Script("a = 1\r\n; comment\r\nb = 2\r\n"),
                                 reinterpret_cast<uint64_t>(&notify_entry), nullptr), 1);
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_EQ(g_lines[0], "a = 1 ");
    EXPECT_EQ(g_lines[1], "b = 2 ");
}

// Numeric settings are strings under HKLM\Software\Talvorn\Settings\CORVEXRC\MAIN.
TEST_F(Host, SettingsAreReadAtInitialisation) {
    const char* key = "Software\\Talvorn\\Settings\\CORVEXRC\\MAIN";
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
    RegSetValueExA(k, "Sounds", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
    RegSetValueExA(k, "PrettyDialogs", 0, REG_SZ, reinterpret_cast<const BYTE*>("0"), 2);
    ASSERT_EQ(DoDaDllInit(nullptr, state, 0, KEL_REQ_INIT, 0, nullptr, nullptr), 96);
    Inspect([](State* st) {
        EXPECT_EQ(st->sounds, 1);
        EXPECT_EQ(st->prettyDialogs, 0);
    });
    RegDeleteValueA(k, "Sounds");
    RegDeleteValueA(k, "PrettyDialogs");
    ASSERT_EQ(DoDaDllInit(nullptr, state, 0, KEL_REQ_INIT, 0, nullptr, nullptr), 96);
    Inspect([](State* st) {
        EXPECT_EQ(st->sounds, 0);          // defaults when missing
        EXPECT_EQ(st->prettyDialogs, 1);
    });
    RegCloseKey(k);
    // Request 1 starts a fresh state: attach the table and heap again for TearDown.
    ASSERT_EQ(DoDaDllInit(nullptr, state, reinterpret_cast<uint64_t>(vars), KEL_REQ_VARTABLE, 500, "", ""), 1);
}

TEST(HostVersion, OtherRequestsAreRefused) {
    EXPECT_EQ(DoDaDllInit(nullptr, nullptr, KEL_INTERFACE_VERSION << 8, 42, 0, nullptr, nullptr), 0);
    EXPECT_EQ(DoDaDllInit(nullptr, nullptr, 0, KEL_REQ_INIT, 0, nullptr, nullptr), 0);   // no state
}

}  // namespace
