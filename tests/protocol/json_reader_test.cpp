// The reader against nlohmann/json as an oracle: the same texts are JSON for both, with the same
// values, apart from our nesting limit.
#include "protocol/json_reader.hpp"
#include "support/json_oracle.hpp"

#include <gtest/gtest.h>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>

namespace vemlox {
namespace {

TEST(JsonReader, AgreesWithNlohmannOnWhatIsJson) {
    const auto agree = [](std::initializer_list<const char*> texts) {
        for (const std::string text : texts) {
            SCOPED_TRACE(text);
            const auto ours = parse_json(text);
            const bool theirs_accepts = nlohmann::json::accept(text);
            EXPECT_EQ(ours.has_value(), theirs_accepts) << (ours ? "" : ours.error());
            if (ours && theirs_accepts) {
                EXPECT_EQ(to_nlohmann(*ours), nlohmann::json::parse(text));
            }
        }
    };
    agree({"0", "-0", "1.5e3", "-12.25E-2", "18446744073709551615", "18446744073709551616",
           "-9223372036854775808", "123456789012345678901234567890", "1e-400", "1e400", "01", "1.",
           ".5", "-", "+1", "1e", "1e+", "0x10", "NaN"});
    agree({"true", "tru", "nulll", "", "\"abc", "\"a\\u00e9\\ud83d\\ude00\"", "\"\\ud800\"",
           "\"\\udc00\"", "\"\\x\"", "\"\t\"", "\"\xC3\x28\"", "\"\xED\xA0\x80\"",
           "\"\xF4\x90\x80\x80\"", "\"\xE2\x82\xAC\"", "[\"a\\/b\\b\\f\\n\\r\\t\"]"});
    agree({"[1,2,]", "[,]", "[]", "{}", "{\"a\":1,\"a\":2}", "{\"a\" 1}", "{1:2}", "[1 2]",
           " [ { \"x\" : [ null , false ] } ] ", "[1]x"});
}

TEST(JsonReader, NestingLimitCountsTheOutermostLevel) {
    const auto nested = [](std::size_t levels) {
        return std::string(levels, '[') + std::string(levels, ']');
    };
    EXPECT_TRUE(parse_json(nested(MAX_JSON_DEPTH)).has_value());
    const auto too_deep = parse_json(nested(MAX_JSON_DEPTH + 1));
    ASSERT_FALSE(too_deep.has_value());
    EXPECT_EQ(too_deep.error(), "recursion limit exceeded at line 1 column 128");
    // Far deeper input stops at the limit instead of exhausting the stack.
    EXPECT_FALSE(parse_json(std::string(1'000'000, '[')).has_value());
}

TEST(JsonReader, PositionsCountLinesAndBytes) {
    const auto result = parse_json("[\n  1,\n  \xC3\xA9]");
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), "expected value at line 3 column 3");
}

} // namespace
} // namespace vemlox
