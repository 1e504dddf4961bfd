// What the golden file leaves out of decoding and validation: limits at their exact edges, failure
// texts and positions it does not reach, and the decoded values themselves.
#include "protocol/parse_request.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vemlox {
namespace {

// `count` copies of `unit`, separated by `separator`.
std::string repeated(std::string_view unit, std::size_t count, std::string_view separator = "") {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += std::string(i == 0 ? "" : separator) + std::string(unit);
    }
    return text;
}

// `form` with `json` in place of its `@`.
std::string filled(std::string_view form, std::string_view json) {
    const auto at = form.find('@');
    return std::string(form.substr(0, at)) + std::string(json) + std::string(form.substr(at + 1));
}

constexpr std::string_view STARTUP = R"({"op":"set_machine_startup","name":"@","enabled":true})";
constexpr std::string_view DISABLE = R"({"op":"disable_adapters","names":["@"]})";
constexpr std::string_view RESTORE =
    R"({"op":"restore_dns","settings":[{"adapter":"Ethernet","servers":[@]}]})";
// The failure text names the value found in full, whatever its JSON spelling.
constexpr std::string_view NAMES_GIVEN = R"({"op":"disable_adapters","names":@})";

std::string not_a_sequence(std::string_view found) {
    return "invalid type: " + std::string(found) + ", expected a sequence";
}

struct Case {
    std::string text;
    std::string expected; // "" for accepted
};

void expect_cases(const std::vector<Case>& cases) {
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text.substr(0, 100));
        const auto result = parse_request(text);
        if (expected.empty()) {
            EXPECT_TRUE(result.has_value()) << result.error();
        } else {
            ASSERT_FALSE(result.has_value());
            EXPECT_EQ(result.error(), expected);
        }
    }
}

TEST(ParseRequest, LimitsAndValueRulesAtTheirEdges) {
    const std::string ping = R"({"op":"ping"})";
    const std::string e_acute = "\xC3\xA9";
    expect_cases({
        {ping + std::string(MAX_REQUEST_BYTES - ping.size(), ' '), ""},
        // Name lengths count characters, not bytes or UTF-16 units.
        {filled(DISABLE, repeated(e_acute, 256)), ""},
        {filled(STARTUP, repeated("\xF0\x9F\x98\x80", 255)), ""},
        {filled(DISABLE, ""), "invalid adapter name"},
        {filled(STARTUP, ""), "invalid startup entry name"},
        // List counts are checked before the names in them.
        {filled(R"({"op":"disable_adapters","names":[@]})", repeated(R"("bad*")", 9, ",")),
         "invalid adapter list"},
        {filled(R"({"op":"restore_dns","settings":[@]})",
                repeated(R"({"adapter":"a","servers":[]})", 9, ",")),
         "invalid DNS list"},
        {filled(RESTORE, R"("1.1.1.1","8.8.8.8","9.9.9.9","8.8.4.4","1.0.0.1")"),
         "invalid DNS servers"},
        {filled(RESTORE, R"("224.0.0.1")"), "invalid DNS servers"},
        {filled(RESTORE, R"("223.255.255.255")"), ""},
        {filled(RESTORE, R"("256.1.1.1")"), "invalid IPv4 address syntax"},
        {filled(RESTORE, R"("1.1.1.1.1")"), "invalid IPv4 address syntax"},
        {filled(RESTORE, R"("1..1.1")"), "invalid IPv4 address syntax"},
    });
}

TEST(DecodeRequest, TextsAndPositionsBeyondTheGoldenFile) {
    const auto nested = [](std::size_t levels) {
        return R"({"op":"ping","x":)" + std::string(levels - 1, '[') +
               std::string(levels - 1, ']') + "}";
    };
    expect_cases({
        {" \t\r\n{\"op\":\"ping\"} \r", ""},
        {"\xEF\xBB\xBF{\"op\":\"ping\"}", "expected value at line 1 column 1"},
        // A repeated tag is refused from its key alone, where the colon is looked for.
        {R"({"op":"ping","op" :1})", "duplicate field `op` at line 1 column 18"},
        {R"({"op":"ping","op")", "duplicate field `op` at line 1 column 17"},
        {R"({ "names":["a"] } )", "missing field `op` at line 1 column 17"},
        {R"({"op":"restore_dns","settings":[{"adapter":"a","servers":[],"x":1}]})",
         "unknown field `x`, expected `adapter` or `servers`"},
        {R"(["disable_adapters",["a"],1])", "invalid length 2, expected 1 element in sequence"},
        {R"({"op":"set_machine_startup"} x)", "missing field `name`"},
        {R"(["ping"] ,)", "trailing characters at line 1 column 10"},
        {R"({"op":"ping","x":"\ud83dx"})", "unexpected end of hex escape at line 1 column 25"},
        {R"({"op":"ping","x":"\ud83d"})", "unexpected end of hex escape at line 1 column 25"},
        {R"({"op":"ping","x":"\ud83d\n"})", "unexpected end of hex escape at line 1 column 26"},
        {R"({"op":"ping","x":"\ud83d)", "EOF while parsing a string at line 1 column 24"},
        {R"({"op":"ping","x":1e400})", "number out of range at line 1 column 22"},
        {R"({"op":"ping","x":-1e99999999999})", "number out of range at line 1 column 30"},
        {nested(127), "unknown field `x`, there are no fields"},
        {filled(NAMES_GIVEN, "1e21"), not_a_sequence("floating point `1000000000000000000000`")},
        {filled(NAMES_GIVEN, "1.25e-7"), not_a_sequence("floating point `0.000000125`")},
        {filled(NAMES_GIVEN, "0.1"), not_a_sequence("floating point `0.1`")},
        {filled(NAMES_GIVEN, "-9223372036854775808"),
         not_a_sequence("integer `-9223372036854775808`")},
        {filled(NAMES_GIVEN, "-9223372036854775809"),
         not_a_sequence("floating point `-9223372036854776000`")},
        {filled(NAMES_GIVEN, "18446744073709551615"),
         not_a_sequence("integer `18446744073709551615`")},
    });
}

TEST(ParseRequest, KeepsValuesAsDecoded) {
    const auto startup = parse_request(filled(STARTUP, " Up\\u00e9dater "));
    ASSERT_TRUE(startup.has_value());
    const auto& set = std::get<request::SetMachineStartup>(*startup);
    EXPECT_EQ(set.name, " Up\xC3\xA9"
                        "dater ");
    EXPECT_TRUE(set.enabled);

    const auto restore = parse_request(
        R"(["restore_dns",[["Wi-Fi",["10.0.0.1","1.2.3.4"]],{"servers":[],"adapter":"Eth"}]])");
    ASSERT_TRUE(restore.has_value()) << restore.error();
    EXPECT_EQ(std::get<request::RestoreDns>(*restore).settings,
              (std::vector<DnsSetting>{{"Wi-Fi", {{{10, 0, 0, 1}}, {{1, 2, 3, 4}}}}, {"Eth", {}}}));

    const auto names = parse_request(R"({"names":["a","a"],"op":"disable_adapters"})");
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ(std::get<request::DisableAdapters>(*names).names,
              (std::vector<std::string>{"a", "a"}));
}

} // namespace
} // namespace vemlox

namespace vemlox {
namespace {

// A record inside another is checked whole whatever rule the outer one names for it, so that a
// schema written with wire::any_value cannot skip the inner record's rules.
struct SettingsHolder {
    std::vector<DnsSetting> settings;
    static constexpr auto WIRE =
        wire::record("struct SettingsHolder",
                     wire::member("settings", &SettingsHolder::settings, wire::any_value));
};

TEST(CheckRules, RunTheRulesOfNestedRecords) {
    const Ipv4Address multicast{{224, 0, 0, 1}};
    EXPECT_EQ(wire::check_rules(SettingsHolder{{{"Wi-Fi", {}}, {"Ether*", {}}}}),
              TextResult<void>(std::unexpected("invalid adapter name")));
    EXPECT_EQ(wire::check_rules(SettingsHolder{{{"Wi-Fi", {multicast}}}}),
              TextResult<void>(std::unexpected("invalid DNS servers")));
    EXPECT_TRUE(wire::check_rules(SettingsHolder{{{"Wi-Fi", {}}}}));
}

} // namespace
} // namespace vemlox
