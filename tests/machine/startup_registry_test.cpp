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

void set_value(const std::wstring& key, const std::wstring& name, DWORD type,
               const std::vector<BYTE>& data) {
    UniqueHkey opened;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, opened.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(opened.get(), name.c_str(), 0, type, data.data(),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
}

// A value as the registry holds it: its type and bytes; type REG_NONE and no bytes when missing.
std::pair<DWORD, std::vector<BYTE>> get_value(const std::wstring& key, const std::wstring& name) {
    std::vector<BYTE> data(64);
    auto size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), RRF_RT_ANY, &type, data.data(),
                     &size) != ERROR_SUCCESS) {
        return {REG_NONE, {}};
    }
    data.resize(size);
    return {type, data};
}

bool key_exists(const std::wstring& key) {
    UniqueHkey opened;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, opened.put()) ==
           ERROR_SUCCESS;
}

// The registry's behaviour on keys of this test process's own, removed afterwards.
class StartupRegistryTest : public ::testing::Test {
  protected:
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, scratch_root().c_str()); }

    const std::wstring run_key = scratch_root() + L"\\Run";
    const std::wstring approval_key = scratch_root() + L"\\Explorer\\StartupApproved\\Run";
    WinStartupRegistry registry{run_key, approval_key};
};

TEST_F(StartupRegistryTest, FindsRunEntriesInAnyLetterCase) {
    set_value(run_key, L"Updater", REG_SZ, text_data(L"C:\\x.exe"));

    EXPECT_TRUE(registry.run_entry_exists("Updater"));
    EXPECT_TRUE(registry.run_entry_exists("UPDATER"));
    EXPECT_TRUE(registry.run_entry_exists("updater"));
    EXPECT_FALSE(registry.run_entry_exists("Updater2"));
    EXPECT_FALSE(registry.run_entry_exists("Nope"));
}

TEST_F(StartupRegistryTest, FindsNonAsciiNames) {
    set_value(run_key, L"\u00c9diteur \u65e5\u672c", REG_EXPAND_SZ, text_data(L"%x%"));

    EXPECT_TRUE(registry.run_entry_exists("\xC3\x89"
                                          "diteur \xE6\x97\xA5\xE6\x9C\xAC"));
    EXPECT_TRUE(registry.run_entry_exists("\xC3\xA9"
                                          "diteur \xE6\x97\xA5\xE6\x9C\xAC"));
}

TEST_F(StartupRegistryTest, MissingRunKeyFindsNothing) {
    EXPECT_FALSE(key_exists(run_key));
    EXPECT_FALSE(registry.run_entry_exists("Updater"));
}

TEST_F(StartupRegistryTest, ReadsValuesLargerThanTheFirstBuffer) {
    set_value(run_key, L"Long", REG_SZ, text_data(L"C:\\" + std::wstring(5000, L'x') + L".exe"));
    set_value(run_key, L"Bin", REG_BINARY, std::vector<BYTE>(70000, 0xAB));

    EXPECT_TRUE(registry.run_entry_exists("Long"));
    EXPECT_TRUE(registry.run_entry_exists("Bin"));
}

TEST_F(StartupRegistryTest, ValueOfATypeBeyondQwordDoesNotCount) {
    set_value(run_key, L"Empty", REG_NONE, {});
    set_value(run_key, L"Qword", REG_QWORD, std::vector<BYTE>(8, 1));
    set_value(run_key, L"Type12", 12, text_data(L"C:\\x.exe"));
    set_value(run_key, L"Type4000", 4000, std::vector<BYTE>(3000, 1));

    EXPECT_TRUE(registry.run_entry_exists("Empty"));
    EXPECT_TRUE(registry.run_entry_exists("Qword"));
    EXPECT_FALSE(registry.run_entry_exists("Type12"));
    EXPECT_FALSE(registry.run_entry_exists("Type4000"));
}

TEST_F(StartupRegistryTest, CreatesTheApprovalKeyAndWritesTwelveBinaryBytes) {
    const ApprovalValue disabled{0x03, 0, 0, 0, 0x70, 0xFF, 0x91, 0x7D, 0xC0, 0x86, 0xDD, 0x01};
    const ApprovalValue enabled{0x02};
    ASSERT_FALSE(key_exists(approval_key));

    ASSERT_TRUE(registry.write_approval("Helper App", disabled));
    EXPECT_EQ(get_value(approval_key, L"Helper App"),
              std::make_pair(static_cast<DWORD>(REG_BINARY),
                             std::vector<BYTE>(disabled.begin(), disabled.end())));

    ASSERT_TRUE(registry.write_approval("Helper App", enabled));
    EXPECT_EQ(get_value(approval_key, L"Helper App").second,
              std::vector<BYTE>(enabled.begin(), enabled.end()));
}

TEST_F(StartupRegistryTest, ApprovalValueKeepsTheNameAsGiven) {
    set_value(run_key, L"Updater", REG_SZ, text_data(L"C:\\x.exe"));
    ASSERT_TRUE(registry.write_approval("UPDATER", ApprovalValue{0x02}));

    // Value names are matched without regard to case, so look at the name stored.
    UniqueHkey opened;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, approval_key.c_str(), 0, KEY_READ, opened.put()),
              ERROR_SUCCESS);
    wchar_t name[64];
    DWORD length = 64;
    ASSERT_EQ(RegEnumValueW(opened.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name, length), L"UPDATER");
}

TEST_F(StartupRegistryTest, UnwritableApprovalKeyFailsWithTheOsErrorText) {
    // A key name part longer than the registry allows (255 characters) cannot be created.
    WinStartupRegistry blocked(run_key, scratch_root() + L"\\" + std::wstring(300, L'k'));

    const auto result = blocked.write_approval("Updater", ApprovalValue{0x02});

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), ActionError::Kind::OsError);
    EXPECT_NE(result.error().payload().find(" (os error "), std::string::npos)
        << result.error().payload();
}

// The machine's own keys, with a value name of this process that is removed again.
TEST(MachineStartupKeys, AreTheRunKeyAndItsApprovalKey) {
    const std::wstring name = L"VemloxTest-" + std::to_wstring(GetCurrentProcessId());
    std::string narrow;
    for (const wchar_t c : name) {
        narrow.push_back(static_cast<char>(c));
    }
    set_value(L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", name, REG_SZ,
              text_data(L"C:\\x.exe"));
    WinStartupRegistry registry;

    const bool found = registry.run_entry_exists(narrow);
    const auto written = registry.write_approval(narrow, ApprovalValue{0x02});
    const auto stored = get_value(
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run", name);

    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                       name.c_str());
    RegDeleteKeyValueW(
        HKEY_LOCAL_MACHINE,
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run",
        name.c_str());
    EXPECT_TRUE(found);
    ASSERT_TRUE(written);
    EXPECT_EQ(stored.second.size(), 12u);
}

TEST(StartupRegistryClock, GivesTheCurrentTimeAsAFiletime) {
    WinStartupRegistry registry;
    SYSTEMTIME system{};
    GetSystemTime(&system);
    FILETIME before{};
    SystemTimeToFileTime(&system, &before);
    // SYSTEMTIME drops what is below a millisecond, and clocks may differ a little.
    const std::uint64_t earliest =
        ((static_cast<std::uint64_t>(before.dwHighDateTime) << 32) | before.dwLowDateTime) -
        20'000'000;

    const std::uint64_t now = registry.now_filetime();

    EXPECT_GE(now, earliest);
    EXPECT_LT(now, earliest + 36'000'000'000); // within the hour
}

} // namespace
} // namespace vemlox::win
