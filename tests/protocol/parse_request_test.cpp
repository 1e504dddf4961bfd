// What the golden file leaves out of decoding and validation: limits at their edges, the value
// rules on decoded characters, and the decoded values themselves.
#include "protocol/parse_request.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vemlox {
namespace {

std::string repeated(std::string_view unit, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += unit;
    }
    return text;
}

std::string startup_request(std::string_view name_json) {
    return R"({"op":"set_machine_startup","name":")" + std::string(name_json) +
           R"(","enabled":true})";
}

std::string disable_request(std::string_view name_json) {
    return R"({"op":"disable_adapters","names":[")" + std::string(name_json) + R"("]})";
}

std::string restore_request(std::string_view servers_json) {
    return R"({"op":"restore_dns","settings":[{"adapter":"Ethernet","servers":[)" +
           std::string(servers_json) + "]}]}";
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

TEST(ParseRequest, SizeLimitCountsBytesBeforeDecoding) {
    const std::string prefix = R"({"op":"ping"})";
    const std::string exact = prefix + std::string(MAX_REQUEST_BYTES - prefix.size(), ' ');
    expect_cases({
        {exact, ""},
        {exact + " ", "request too large"},
        {std::string(MAX_REQUEST_BYTES + 1, 'x'), "request too large"},
        {std::string(MAX_REQUEST_BYTES, 'x'), "expected value at line 1 column 1"},
    });
}

TEST(ParseRequest, NameLengthsCountCharactersNotBytes) {
    const std::string e_acute = "\xC3\xA9";
    expect_cases({
        {disable_request(repeated(e_acute, 256)), ""},
        {disable_request(repeated(e_acute, 257)), "invalid adapter name"},
        {startup_request(repeated(e_acute, 255)), ""},
        {startup_request(repeated(e_acute, 256)), "invalid startup entry name"},
        {startup_request(repeated("\xF0\x9F\x98\x80", 255)), ""},
        {disable_request(""), "invalid adapter name"},
        {startup_request(""), "invalid startup entry name"},
    });
}

TEST(ParseRequest, RulesSeeDecodedCharacters) {
    expect_cases({
        {disable_request("Wi\\tFi"), "invalid adapter name"},
        {disable_request("\\u0057\\u0069\\u002d\\u0046\\u0069"), ""},
        {disable_request("Ethernet\\u0085"), "invalid adapter name"},
        {disable_request("Ethernet\\u00a0(2) #1 & more"), ""},
        {disable_request("a\\u002ab"), "invalid adapter name"},
        {disable_request("\\u00e9th"), ""},
        {startup_request("Up*date\\\"r"), ""},
        {startup_request("a\\u005cb"), "invalid startup entry name"},
        {startup_request("a\\/b"), "invalid startup entry name"},
        {startup_request("a\\u007fb"), "invalid startup entry name"},
    });
}

TEST(ParseRequest, EachRefusedAdapterCharacterIsRefused) {
    for (const std::string refused : {"*", "?", "[", "]", "`", "'", "\\\"", "$", "\\\\", "/"}) {
        SCOPED_TRACE(refused);
        const auto result = parse_request(disable_request("Eth" + refused + "ernet"));
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), "invalid adapter name");
    }
}

TEST(ParseRequest, ListCountsAreCheckedBeforeNames) {
    std::string nine = R"({"op":"disable_adapters","names":[)";
    for (int i = 0; i < 9; ++i) {
        nine += std::string(i == 0 ? "" : ",") + "\"bad*\"";
    }
    nine += "]}";
    std::string eight_settings = R"({"op":"restore_dns","settings":[)";
    for (int i = 0; i < 8; ++i) {
        eight_settings += std::string(i == 0 ? "" : ",") + R"({"adapter":"a","servers":[]})";
    }
    eight_settings += "]}";
    expect_cases({
        {nine, "invalid adapter list"},
        {R"({"op":"disable_adapters","names":[]})", "invalid adapter list"},
        {R"({"op":"restore_dns","settings":[]})", "invalid DNS list"},
        {eight_settings, ""},
        {R"({"op":"restore_dns","settings":[{"adapter":"a/b","servers":[]},)"
         R"({"adapter":"b","servers":["1.1.1.1","1.1.1.1","1.1.1.1","1.1.1.1","1.1.1.1","1.1.1.1"]}]})",
         "invalid adapter name"},
    });
}

TEST(ParseRequest, DnsServerAddressRules) {
    expect_cases({
        {restore_request(""), ""},
        {restore_request(R"("1.1.1.1","8.8.8.8","9.9.9.9","8.8.4.4")"), ""},
        {restore_request(R"("1.1.1.1","8.8.8.8","9.9.9.9","8.8.4.4","1.0.0.1")"),
         "invalid DNS servers"},
        {restore_request(R"("224.0.0.1")"), "invalid DNS servers"},
        {restore_request(R"("239.255.255.255")"), "invalid DNS servers"},
        {restore_request(R"("0.0.0.0")"), "invalid DNS servers"},
        {restore_request(R"("255.255.255.255")"), "invalid DNS servers"},
        {restore_request(R"("240.0.0.1")"), ""},
        {restore_request(R"("255.255.255.254")"), ""},
        {restore_request(R"("127.0.0.1","192.168.1.1","169.254.0.1","223.255.255.255")"), ""},
        {restore_request(R"("01.1.1.1")"), "invalid IPv4 address syntax"},
        {restore_request(R"("1.1.1")"), "invalid IPv4 address syntax"},
        {restore_request(R"(" 1.1.1.1")"), "invalid IPv4 address syntax"},
        {restore_request(R"("1.1.1.1 ")"), "invalid IPv4 address syntax"},
        {restore_request(R"("256.1.1.1")"), "invalid IPv4 address syntax"},
        {restore_request(R"("1.1.1.1.1")"), "invalid IPv4 address syntax"},
        {restore_request(R"("1..1.1")"), "invalid IPv4 address syntax"},
        {restore_request(R"("+1.1.1.1")"), "invalid IPv4 address syntax"},
        {restore_request(R"("1.1.1.0001")"), "invalid IPv4 address syntax"},
    });
}

TEST(ParseRequest, KeepsValuesAsDecoded) {
    const auto startup = parse_request(startup_request(" Up\\u00e9dater "));
    ASSERT_TRUE(startup.has_value());
    const auto& set = std::get<request::SetMachineStartup>(*startup);
    EXPECT_EQ(set.name, " Up\xC3\xA9"
                        "dater ");
    EXPECT_TRUE(set.enabled);

    const auto restore = parse_request(
        R"(["restore_dns",[["Wi-Fi",["10.0.0.1","1.2.3.4"]],{"servers":[],"adapter":"Eth"}]])");
    ASSERT_TRUE(restore.has_value()) << restore.error();
    const auto& settings = std::get<request::RestoreDns>(*restore).settings;
    ASSERT_EQ(settings.size(), 2u);
    EXPECT_EQ(settings[0], (DnsSetting{"Wi-Fi", {{{10, 0, 0, 1}}, {{1, 2, 3, 4}}}}));
    EXPECT_EQ(settings[1], (DnsSetting{"Eth", {}}));

    const auto names = parse_request(R"({"names":["a","a"],"op":"disable_adapters"})");
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ(std::get<request::DisableAdapters>(*names).names,
              (std::vector<std::string>{"a", "a"}));
}

TEST(DecodeRequest, TagAndFieldRules) {
    expect_cases({
        {R"({"enabled":false,"name":"Updater","op":"set_machine_startup"})", ""},
        {" \t\r\n{\"op\":\"ping\"} \r", ""},
        {"\xEF\xBB\xBF{\"op\":\"ping\"}", "expected value at line 1 column 1"},
        {R"({"op":"ping","op" :1})", "duplicate field `op` at line 1 column 17"},
        {R"({"op":"ping","op")", "duplicate field `op` at line 1 column 17"},
        {R"({"op":"ping","op"})", "duplicate field `op` at line 1 column 17"},
        {R"({ "names":["a"] } )", "missing field `op` at line 1 column 17"},
        {R"({"op":"set_machine_startup","name":"x"})", "missing field `enabled`"},
        {R"({"op":"set_machine_startup","name":"x","enabled":"no"})",
         "invalid type: string \"no\", expected a boolean"},
        {R"({"op":"set_machine_startup","name":"x","enabled":true,"extra":1})",
         "unknown field `extra`, expected `name` or `enabled`"},
        {R"({"op":"set_machine_startup","name":"x","name":"y","enabled":true})",
         "duplicate field `name`"},
        {R"({"op":"disable_adapters","names":null})", "invalid type: null, expected a sequence"},
        {R"({"op":"restore_dns","settings":[{"adapter":"a","servers":[],"x":1}]})",
         "unknown field `x`, expected `adapter` or `servers`"},
        {R"({"op":"restore_dns","settings":[["a",[],1]]})",
         "invalid length 3, expected 2 elements in sequence"},
        {R"(["disable_adapters",["a"],1])", "invalid length 2, expected 1 element in sequence"},
        {R"(["set_machine_startup","x"])",
         "invalid length 1, expected struct variant Request::SetMachineStartup with 2 elements"},
        {R"({"op":"set_machine_startup"} x)", "missing field `name`"},
        {R"(["ping"] ,)", "trailing characters at line 1 column 10"},
        {R"({"op":"ping","x":"\ud83d\ude00"})", "unknown field `x`, there are no fields"},
        {R"({"op":"ping","x":"\ud83dx"})", "unexpected end of hex escape at line 1 column 25"},
        {R"({"op":"ping","x":"\ud83d"})", "unexpected end of hex escape at line 1 column 25"},
        {R"({"op":"ping","x":"\ud83d\n"})", "unexpected end of hex escape at line 1 column 26"},
        {R"({"op":"ping","x":"\ud83d)", "EOF while parsing a string at line 1 column 24"},
        {R"({"op":"ping","x":1e400})", "number out of range at line 1 column 22"},
        {R"({"op":"ping","x":-1e99999999999})", "number out of range at line 1 column 30"},
    });
}

TEST(DecodeRequest, NestingLimitIs127Levels) {
    const auto nested = [](std::size_t levels) {
        return R"({"op":"ping","x":)" + std::string(levels - 1, '[') +
               std::string(levels - 1, ']') + "}";
    };
    expect_cases({
        {nested(127), "unknown field `x`, there are no fields"},
        {nested(128), "recursion limit exceeded at line 1 column 144"},
    });
}

TEST(DecodeRequest, DescribesFoundNumbersInFull) {
    const auto found = [](std::string_view number) {
        const auto result =
            parse_request(R"({"op":"disable_adapters","names":)" + std::string(number) + "}");
        return result ? std::string("accepted") : result.error();
    };
    EXPECT_EQ(found("1e21"),
              "invalid type: floating point `1000000000000000000000`, expected a sequence");
    EXPECT_EQ(found("1.25e-7"), "invalid type: floating point `0.000000125`, expected a sequence");
    EXPECT_EQ(found("-0.0"), "invalid type: floating point `-0`, expected a sequence");
    EXPECT_EQ(found("2.5E+1"), "invalid type: floating point `25`, expected a sequence");
    EXPECT_EQ(found("-9223372036854775808"),
              "invalid type: integer `-9223372036854775808`, expected a sequence");
    EXPECT_EQ(found("-9223372036854775809"),
              "invalid type: floating point `-9223372036854776000`, expected a sequence");
    EXPECT_EQ(found("18446744073709551615"),
              "invalid type: integer `18446744073709551615`, expected a sequence");
    EXPECT_EQ(found("0.1"), "invalid type: floating point `0.1`, expected a sequence");
}

} // namespace
} // namespace vemlox
