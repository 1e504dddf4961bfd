// Every request text of the golden file through parse_request: the decoded "op" or the exact
// failure text, column numbers included. The file writes the list of "op" names that an unknown
// one is answered with as {one of OP_NAMES}, so that a new operation needs no edit here.
#include "protocol/parse_request.hpp"
#include "protocol/request.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace vemlox {
namespace {

constexpr std::string_view OP_NAMES_PLACEHOLDER = "{one of OP_NAMES}";

// "one of `ping`, `set_machine_startup`, ...", in the order of the Request alternatives.
std::string op_names_text() {
    std::string text = "one of ";
    for (const std::string_view name : OP_NAMES) {
        text += (name == OP_NAMES.front() ? "`" : ", `") + std::string(name) + "`";
    }
    return text;
}

std::string with_op_names(std::string text) {
    if (const auto at = text.find(OP_NAMES_PLACEHOLDER); at != std::string::npos) {
        text.replace(at, OP_NAMES_PLACEHOLDER.size(), op_names_text());
    }
    return text;
}

std::string from_hex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

TEST(GoldenRequests, EveryLineGivesItsExactResult) {
    std::ifstream file(VEMLOX_TEST_DATA "/request-golden.jsonl", std::ios::binary);
    ASSERT_TRUE(file) << "cannot open " << VEMLOX_TEST_DATA "/request-golden.jsonl";
    int line_number = 0;
    int checked = 0;
    for (std::string line; std::getline(file, line);) {
        ++line_number;
        const auto golden = nlohmann::json::parse(line);
        const std::string request = from_hex(golden.at("request_hex").get<std::string>());
        const auto result = parse_request(request);
        SCOPED_TRACE("golden line " + std::to_string(line_number) + ": " +
                     golden.value("request", std::string("(not UTF-8)")).substr(0, 120));
        if (golden.contains("ok")) {
            ASSERT_TRUE(result.has_value()) << result.error();
            EXPECT_EQ(op_name(*result), golden.at("ok").get<std::string>());
        } else {
            ASSERT_FALSE(result.has_value()) << "decoded as " << op_name(*result);
            EXPECT_EQ(result.error(), with_op_names(golden.at("rejected").get<std::string>()));
        }
        ++checked;
    }
    EXPECT_EQ(checked, 258);
}

} // namespace
} // namespace vemlox
