// The startup registry on keys of this test process's own, removed afterwards. The machine's real
// keys, the letter case of names and the approval bytes with their time are exercised through the
// installed service.
#include "machine/startup_registry_win.hpp"
#include "win32_shared/unique_handle.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace vemlox::win {
namespace {

std::wstring scratch_root() {
    return L"Software\\VemloxTest-" + std::to_wstring(GetCurrentProcessId());
}

std::vector<BYTE> text_data(const std::wstring& text) {
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return {bytes, bytes + (text.size() + 1) * sizeof(wchar_t)};
}

UniqueHkey open_key(const std::wstring& key) {
    UniqueHkey opened;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, opened.put());
    return opened;
}

class StartupRegistryTest : public ::testing::Test {
  protected:
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, scratch_root().c_str()); }

    void set_run_value(const std::wstring& name, DWORD type, const std::vector<BYTE>& data) {
        UniqueHkey opened;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, run_key.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, opened.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(opened.get(), name.c_str(), 0, type, data.data(),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }

    const std::wstring run_key = scratch_root() + L"\\Run";
    const std::wstring approval_key = scratch_root() + L"\\Explorer\\StartupApproved\\Run";
    WinStartupRegistry registry{run_key, approval_key};
};

TEST_F(StartupRegistryTest, RunEntryIsAValueOfAKnownTypeOfAnySizeNamedInAnyCase) {
    EXPECT_FALSE(registry.run_entry_exists("Updater")) << "the Run key is missing";

    set_run_value(L"Updater", REG_SZ, text_data(L"C:\\x.exe"));
    set_run_value(L"\u00c9diteur \u65e5\u672c", REG_EXPAND_SZ, text_data(L"%x%"));
    // Larger than the first read.
    set_run_value(L"Long", REG_SZ, text_data(L"C:\\" + std::wstring(5000, L'x') + L".exe"));
    set_run_value(L"Bin", REG_BINARY, std::vector<BYTE>(70000, 0xAB));
    set_run_value(L"Empty", REG_NONE, {});
    set_run_value(L"Qword", REG_QWORD, std::vector<BYTE>(8, 1));
    // Types past REG_QWORD are none the system defines.
    set_run_value(L"Type12", 12, text_data(L"C:\\x.exe"));
    set_run_value(L"Type4000", 4000, std::vector<BYTE>(3000, 1));

    for (const char* name : {"Updater", "UPDATER", "updater",
                             "\xC3\x89"
                             "diteur \xE6\x97\xA5\xE6\x9C\xAC",
                             "\xC3\xA9"
                             "diteur \xE6\x97\xA5\xE6\x9C\xAC",
                             "Long", "Bin", "Empty", "Qword"}) {
        EXPECT_TRUE(registry.run_entry_exists(name)) << name;
    }
    for (const char* name : {"Updater2", "Nope", "Type12", "Type4000"}) {
        EXPECT_FALSE(registry.run_entry_exists(name)) << name;
    }
}

TEST_F(StartupRegistryTest, ApprovalCreatesItsKeyAndKeepsTheNameAsGiven) {
    const ApprovalValue disabled{0x03, 0, 0, 0, 0x70, 0xFF, 0x91, 0x7D, 0xC0, 0x86, 0xDD, 0x01};
    ASSERT_FALSE(open_key(approval_key));

    ASSERT_TRUE(registry.write_approval("UPDATER", disabled));

    // Value names are matched without regard to case, so look at the name stored.
    const UniqueHkey opened = open_key(approval_key);
    ASSERT_TRUE(opened);
    wchar_t name[64];
    DWORD length = 64;
    DWORD type = REG_NONE;
    std::vector<BYTE> data(64);
    auto size = static_cast<DWORD>(data.size());
    ASSERT_EQ(RegEnumValueW(opened.get(), 0, name, &length, nullptr, &type, data.data(), &size),
              ERROR_SUCCESS);
    data.resize(size);
    EXPECT_EQ(std::wstring(name, length), L"UPDATER");
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(data, std::vector<BYTE>(disabled.begin(), disabled.end()));
}

TEST_F(StartupRegistryTest, UnwritableApprovalKeyFailsWithTheOsErrorText) {
    // A key name part longer than the registry allows (255 characters) cannot be created.
    WinStartupRegistry blocked(run_key, scratch_root() + L"\\" + std::wstring(300, L'k'));

    const auto result = blocked.write_approval("Updater", ApprovalValue{0x02});

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), ActionError::Kind::OsError);
    EXPECT_NE(result.error().detail().find(" (os error "), std::string::npos)
        << result.error().detail();
}

} // namespace
} // namespace vemlox::win
