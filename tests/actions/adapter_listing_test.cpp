#include "actions/adapter_listing.hpp"

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
        {"", "EOF while parsing a value at line 1 column 0"},
        {"{\"name\":\"a\",\"disabled\":true}",
         "invalid type: map, expected a sequence at line 1 column 28"},
        {"[{\"name\":\"a\"}]", "missing field `disabled` at line 1 column 13"},
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
    const auto names = decode_names("[\"a\",2]");
    ASSERT_FALSE(names.has_value());
    EXPECT_EQ(names.error(), "invalid type: integer `2`, expected a string at line 1 column 6");
}

} // namespace
} // namespace vemlox
