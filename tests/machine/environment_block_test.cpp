#include "machine/environment_block.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace vemlox::win {
namespace {

using namespace std::string_literals;

TEST(SplitEnvironmentBlock, GivesTheEntriesUpToTheEmptyOne) {
    EXPECT_EQ(split_environment_block(L"=C:=C:\\x\0A=1\0B=\0\0C=ignored\0\0"s),
              (std::vector<std::wstring>{L"=C:=C:\\x", L"A=1", L"B="}));
    EXPECT_TRUE(split_environment_block(L"\0\0"s).empty());
    EXPECT_TRUE(split_environment_block(L""s).empty());
    EXPECT_EQ(split_environment_block(L"A=1\0B=2"s), (std::vector<std::wstring>{L"A=1", L"B=2"}));
}

TEST(BuildEnvironmentBlock, PairsReplaceByNameInAnyCaseAndEntriesAreSortedWithoutRegardToCase) {
    struct Case {
        std::vector<std::wstring> inherited;
        std::vector<EnvironmentPair> pairs;
        std::wstring block;
    };
    const Case cases[] = {
        // Every entry of the same name goes, whatever its case; a longer name is another one.
        {{L"Path=C:\\windows", L"vlx_adapter=old", L"Vlx_Adapter=older", L"VLX_ADAPTERS=kept"},
         {{"VLX_ADAPTER", "Ethernet 2"}},
         L"Path=C:\\windows\0VLX_ADAPTER=Ethernet 2\0VLX_ADAPTERS=kept\0\0"s},
        {{}, {{"VLX_ADAPTER", "Wi-Fi"}, {"VLX_DNS", ""}}, L"VLX_ADAPTER=Wi-Fi\0VLX_DNS=\0\0"s},
        {{}, {{"vlx_dns", "1.1.1.1"}, {"VLX_DNS", "8.8.8.8"}}, L"VLX_DNS=8.8.8.8\0\0"s},
        // The drive folders ("=C:") keep their place before every name.
        {{L"windir=C:\\windows", L"=C:=C:\\work", L"ALLUSERSPROFILE=C:\\ProgramData", L"b=2",
          L"A=1"},
         {{"VLX_ADAPTER", "\xC3\xA9th"}},
         L"=C:=C:\\work\0A=1\0ALLUSERSPROFILE=C:\\ProgramData\0b=2\0VLX_ADAPTER=\u00e9th\0"
         L"windir=C:\\windows\0\0"s},
        {{}, {}, L"\0\0"s},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(build_environment_block(c.inherited, c.pairs), c.block);
    }
}

// A system folder that cannot be found adds nothing: an empty entry would be the current folder.
TEST(SystemSearchPaths, NeverHoldAnEmptyEntry) {
    EXPECT_EQ(system_search_paths(L"", L"D:\\OS").path, L"D:\\OS");
    EXPECT_EQ(system_search_paths(L"", L"D:\\OS").module_path, L"");
    EXPECT_EQ(system_search_paths(L"", L"").path, L"");
}

TEST(ChildEnvironmentBlock, ReplacesOurSearchPathsInAnyCaseAndKeepsTheRest) {
    const std::vector<std::wstring> inherited{
        L"Path=C:\\Tools;C:\\windows\\system32", L"PSMODULEPATH=C:\\Tools\\Modules",
        L"psmodulepath=C:\\Other", L"TEMP=C:\\temp", L"VLX_ADAPTER=stale"};
    const std::vector<EnvironmentPair> pairs{{"VLX_ADAPTER", "Ethernet"}};

    wchar_t system[MAX_PATH] = {};
    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
    ASSERT_NE(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const SearchPaths paths = system_search_paths(system, windows);

    EXPECT_EQ(
        split_environment_block(child_environment_block(inherited, pairs)),
        (std::vector<std::wstring>{L"PATH=" + paths.path, L"PSModulePath=" + paths.module_path,
                                   L"TEMP=C:\\temp", L"VLX_ADAPTER=Ethernet"}));
}

TEST(OwnEnvironment, HoldsTheProcessVariables) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"VEMLOX_TEST_OWN", L"x y=z"));

    const auto entries = own_environment();

    ASSERT_TRUE(entries);
    EXPECT_NE(std::ranges::find(*entries, L"VEMLOX_TEST_OWN=x y=z"), entries->end());
    SetEnvironmentVariableW(L"VEMLOX_TEST_OWN", nullptr);
}

} // namespace
} // namespace vemlox::win
