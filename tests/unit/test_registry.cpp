// Registry functions where a script alone cannot check the result: a hive
// file made by the system is loaded, read and unloaded; the tear-down closes
// every key a script left open; the last write time is a YmdHms value of
// the current local time.
#include "fixture.h"
#include "exec.h"
#include "loader.h"
#include "library/registry/registry.h"
#include <regex>
#include <string>
#include <vector>

namespace {

class Registry : public ScriptFixture {
protected:
    void TearDown() override {
        reg_teardown(st);
        ScriptFixture::TearDown();
    }
    std::wstring Text(const char* name) {
        const Cell* c = VarCell(name);
        if (c && (c->type & TW_UNICODE)) return cell_wstr(st, c);
        if (c && (c->type & TW_STRING)) {
            std::string s = cell_str(st, c);
            return std::wstring(s.begin(), s.end());
        }
        return L"<none>";
    }
    int64_t Number(const char* name) {
        const Cell* c = VarCell(name);
        EXPECT_NE(c, nullptr) << name;
        return !c ? INT64_MIN : (c->type & TW_INT64) ? c->i64 : c->i;
    }
};

bool enable_privilege(const wchar_t* name) {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool ok = LookupPrivilegeValueW(nullptr, name, &tp.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return ok;
}

std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

TEST_F(Registry, HiveSavedByTheSystemLoadsReadsAndUnloads) {
    const wchar_t* source = L"Software\\KelUnitHiveSource";
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, source, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    const wchar_t text[] = L"from the hive";
    RegSetValueExW(key, L"s", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
    HKEY sub;
    RegCreateKeyExW(key, L"Inner", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
    RegCloseKey(sub);

    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    const std::wstring file = std::wstring(dir) + L"kel_unit_hive.dat";
    DeleteFileW(file.c_str());
    ASSERT_TRUE(enable_privilege(L"SeBackupPrivilege"));
    const LSTATUS saved = RegSaveKeyW(key, file.c_str(), nullptr);
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, source);
    ASSERT_EQ(saved, 0);

    Run("l = RegLoadHive(@REGUSERS, \"KelUnitHive\", \"" + narrow(file) + "\")\n"
        "v = RegQueryValue(@REGUSERS, \"KelUnitHive[s]\")\n"
        "o = RegOpenKey(@REGUSERS, \"KelUnitHive\")\n"
        "k = RegQueryKeys(o)\n"
        "RegCloseKey(o)\n"
        "u = RegUnloadHive(@REGUSERS, \"KelUnitHive\")\n"
        "e = RegExistKey(@REGUSERS, \"KelUnitHive\")\n");
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(Number("l"), 1);
    EXPECT_EQ(Text("v"), L"from the hive");
    EXPECT_EQ(Text("k"), L"Inner");
    EXPECT_EQ(Number("u"), 1);
    EXPECT_EQ(Number("e"), 0);
    DeleteFileW(file.c_str());
}

TEST_F(Registry, TeardownClosesEveryKeyTheScriptHolds) {
    Run("a = RegCreateKey(@REGCURRENT, \"Software\\KelUnitTeardown\")\n"
        "b = RegOpenKey(a, \"\")\n"
        "c = RegCreateKeyEx(a, \"Sub\", \"FULL\", 0)\n"
        "RegCloseKey(b)\n");
    ASSERT_TRUE(errors.empty());
    std::vector<HKEY> held;
    for (const char* name : {"a", "c"}) held.push_back(reinterpret_cast<HKEY>(static_cast<intptr_t>(Number(name))));
    for (HKEY h : held) EXPECT_EQ(RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                   nullptr, nullptr, nullptr, nullptr), 0);
    reg_teardown(st);
    EXPECT_EQ(st->regKeys, nullptr);
    for (HKEY h : held)
        EXPECT_EQ(RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr), ERROR_INVALID_HANDLE);
    // The numbers are no keys of the script any more.
    Run("x = RegQueryKeys(a)\n");
    EXPECT_EQ(errors, std::vector<uint32_t>{1762});
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KelUnitTeardown");
}

TEST_F(Registry, LastWriteTimeIsLocalYmdHms) {
    SYSTEMTIME before;
    GetLocalTime(&before);
    Run("h = RegCreateKey(@REGCURRENT, \"Software\\KelUnitTime\")\n"
        "RegSetValue(h, \"[v]\", \"x\")\n"
        "t = RegQueryKeyLastWriteTime(@REGCURRENT, \"Software\\KelUnitTime\")\n"
        "RegCloseKey(h)\n"
        "RegDeleteKey(@REGCURRENT, \"Software\\KelUnitTime\")\n");
    ASSERT_TRUE(errors.empty());
    const std::string t = narrow(Text("t"));
    std::smatch m;
    ASSERT_TRUE(std::regex_match(t, m, std::regex(R"((\d{4}):(\d\d):(\d\d):(\d\d):(\d\d):(\d\d))"))) << t;
    auto seconds = [](int d, int h, int mi, int s) { return ((d * 24 + h) * 60 + mi) * 60 + s; };
    const int got = seconds(std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[5]), std::stoi(m[6]));
    const int was = seconds(before.wDay, before.wHour, before.wMinute, before.wSecond);
    EXPECT_EQ(std::stoi(m[1]), before.wYear);
    EXPECT_EQ(std::stoi(m[2]), before.wMonth);
    EXPECT_GE(got, was - 1);
    EXPECT_LE(got, was + 60);
}

}  // namespace
