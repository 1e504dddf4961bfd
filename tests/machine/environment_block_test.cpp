#include "machine/environment_block.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace vemlox::win {
namespace {

using namespace std::string_literals;

std::vector<std::wstring> entries_of(const std::wstring& block) {
    // A block ends with an empty entry: two NULs in a row.
    EXPECT_GE(block.size(), 2u);
    EXPECT_EQ(block.substr(block.size() - 2), L"\0\0"s);
    return split_environment_block(block);
}

TEST(SplitEnvironmentBlock, GivesTheEntriesUpToTheEmptyOne) {
    EXPECT_EQ(split_environment_block(L"=C:=C:\\x\0A=1\0B=\0\0C=ignored\0\0"s),
              (std::vector<std::wstring>{L"=C:=C:\\x", L"A=1", L"B="}));
    EXPECT_TRUE(split_environment_block(L"\0\0"s).empty());
    EXPECT_TRUE(split_environment_block(L""s).empty());
    EXPECT_EQ(split_environment_block(L"A=1\0B=2"s), (std::vector<std::wstring>{L"A=1", L"B=2"}));
}

TEST(BuildEnvironmentBlock, PairReplacesEveryVariableOfTheSameNameInAnyCase) {
    const std::vector<std::wstring> inherited{L"Path=C:\\windows", L"vlx_adapter=old",
                                              L"Vlx_Adapter=older", L"VLX_ADAPTERS=kept"};
    const std::vector<EnvironmentPair> pairs{{"VLX_ADAPTER", "Ethernet 2"}};

    const auto entries = entries_of(build_environment_block(inherited, pairs));

    EXPECT_EQ(entries, (std::vector<std::wstring>{L"Path=C:\\windows", L"VLX_ADAPTER=Ethernet 2",
                                                  L"VLX_ADAPTERS=kept"}));
}

TEST(BuildEnvironmentBlock, EmptyValueIsStillPassed) {
    const std::vector<EnvironmentPair> pairs{{"VLX_ADAPTER", "Wi-Fi"}, {"VLX_DNS", ""}};

    const std::wstring block = build_environment_block({}, pairs);

    EXPECT_EQ(block, L"VLX_ADAPTER=Wi-Fi\0VLX_DNS=\0\0"s);
}

TEST(BuildEnvironmentBlock, LaterPairReplacesAnEarlierOne) {
    const std::vector<EnvironmentPair> pairs{{"vlx_dns", "1.1.1.1"}, {"VLX_DNS", "8.8.8.8"}};

    EXPECT_EQ(entries_of(build_environment_block({}, pairs)),
              std::vector<std::wstring>{L"VLX_DNS=8.8.8.8"});
}

TEST(BuildEnvironmentBlock, SortsByNameWithoutRegardToCaseAndKeepsDriveFolders) {
    const std::vector<std::wstring> inherited{L"windir=C:\\windows", L"=C:=C:\\work",
                                              L"ALLUSERSPROFILE=C:\\ProgramData", L"b=2", L"A=1"};
    const std::vector<EnvironmentPair> pairs{{"VLX_ADAPTER", "\xC3\xA9th"}};

    EXPECT_EQ(
        entries_of(build_environment_block(inherited, pairs)),
        (std::vector<std::wstring>{L"=C:=C:\\work", L"A=1", L"ALLUSERSPROFILE=C:\\ProgramData",
                                   L"b=2", L"VLX_ADAPTER=\u00e9th", L"windir=C:\\windows"}));
}

TEST(BuildEnvironmentBlock, NothingAtAllIsTwoNuls) {
    EXPECT_EQ(build_environment_block({}, {}), L"\0\0"s);
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
