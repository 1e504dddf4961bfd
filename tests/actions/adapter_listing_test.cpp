#include "actions/adapter_listing.hpp"
#include "actions/fake_program_runner.hpp"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace vemlox {
namespace {

TEST(AdapterListing, DecodesRowsInAnyMemberOrder) {
    const auto rows = decode_rows(" [{\"disabled\":true,\"name\":\"Wi-Fi\",\"ifIndex\":7},{"
                                  "\"name\":\"Ethernet 2\",\"disabled\":false}]\r\n");
    ASSERT_TRUE(rows.has_value()) << rows.error();
    EXPECT_EQ(*rows, (std::vector<Row>{{"Wi-Fi", true}, {"Ethernet 2", false}}));
    EXPECT_EQ(decode_rows("[]").value(), std::vector<Row>{});
    EXPECT_EQ(decode_names("[\"Wi-Fi\",\"Ethernet\"]").value(),
              (std::vector<std::string>{"Wi-Fi", "Ethernet"}));
}

TEST(AdapterListing, FaultsNameWhatAndWhere) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        // More in the operations' table below.
        {"[{\"name\":\"a\",\"disabled\":1}]",
         "invalid type: integer `1`, expected a boolean at line 1 column 25"},
        {"[{\"name\":\"a\",\"name\":\"b\",\"disabled\":true}]",
         "duplicate field `name` at line 1 column 40"},
        {"[\"a\"]", "invalid type: string \"a\", expected struct Row at line 1 column 4"},
        {"[{\"name\":\"\xFF\",\"disabled\":true}]",
         "invalid unicode code point at line 1 column 12"},
        {"[] x", "trailing characters at line 1 column 4"},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        const auto rows = decode_rows(text);
        ASSERT_FALSE(rows.has_value());
        EXPECT_EQ(rows.error(), expected);
    }
}

// Every operation that starts from a listing fails with the reader's or the script's text when the
// listing cannot be read, before it changes anything.
TEST(AdapterListing, UnreadableListingFailsTheOperationBeforeAnyChange) {
    FakeProgramRunner runner{{0, ""},
                             {1, "[]", "Get-NetAdapter : boom\r\n"},
                             {0, R"({"name":"a","disabled":true})"},
                             {0, R"([{"name":"a"}])"},
                             {0, R"(["a",2])"}};
    const std::vector<std::string> names{"a"};
    const std::vector<DnsSetting> settings{{"a", {}}};

    EXPECT_EQ(perform(request::EnableAdapters{}, runner),
              os_failure("EOF while parsing a value at line 1 column 0"));
    EXPECT_EQ(perform(request::EnableAdapters{}, runner), os_failure("Get-NetAdapter : boom"));
    EXPECT_EQ(perform(request::DisableAdapters{names}, runner),
              os_failure("invalid type: map, expected a sequence at line 1 column 28"));
    EXPECT_EQ(perform(request::RestoreDns{settings}, runner),
              os_failure("missing field `disabled` at line 1 column 13"));
    EXPECT_EQ(perform(request::UsePublicDns{}, runner),
              os_failure("invalid type: integer `2`, expected a string at line 1 column 6"));
    EXPECT_EQ(runner.journal, (std::vector<std::string>{"physical", "physical", "physical",
                                                        "physical", "connected"}));
}

} // namespace
} // namespace vemlox
