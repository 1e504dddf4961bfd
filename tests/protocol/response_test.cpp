#include "protocol/printers.hpp"
#include "protocol/response.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vemlox {
namespace {

Ipv4Address ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return Ipv4Address{{a, b, c, d}};
}

OkResponse ok_with_names(std::vector<std::string> names) {
    OkResponse ok;
    ok.names = std::move(names);
    return ok;
}

OkResponse ok_with_dns(std::vector<DnsSetting> dns) {
    OkResponse ok;
    ok.dns = std::move(dns);
    return ok;
}

TEST(Response, KindNamesOnTheWireAndInTheLog) {
    EXPECT_EQ(wire_name(FailureKind::Rejected), "rejected");
    EXPECT_EQ(wire_name(FailureKind::NotFound), "not_found");
    EXPECT_EQ(wire_name(FailureKind::Failed), "failed");
    EXPECT_EQ(log_word(FailureKind::Rejected), "Rejected");
    EXPECT_EQ(log_word(FailureKind::NotFound), "NotFound");
    EXPECT_EQ(log_word(FailureKind::Failed), "Failed");
}

TEST(Response, PingIsTwentyEightBytesWithLineFeed) {
    const std::string line = encode_response(OkResponse{});
    EXPECT_EQ(line, "{\"status\":\"ok\",\"version\":1}\n");
    EXPECT_EQ(line.size(), 28u);
}

struct EncodingCase {
    const char* what;
    Response response;
    std::string expected;
};

const std::vector<EncodingCase> ENCODING_CASES = {
    {"empty lists are omitted", ok_with_names({}), R"({"status":"ok","version":1})"},
    {"names after version", ok_with_names({"Ethernet", "Wi-Fi 2"}),
     R"({"status":"ok","version":1,"names":["Ethernet","Wi-Fi 2"]})"},
    {"dns with servers and with none",
     ok_with_dns({{"Ethernet", {ip(192, 168, 1, 1), ip(8, 8, 4, 4)}}, {"Wi-Fi", {}}}),
     R"({"status":"ok","version":1,"dns":[{"adapter":"Ethernet","servers":["192.168.1.1","8.8.4.4"]},)"
     R"({"adapter":"Wi-Fi","servers":[]}]})"},
    {"addresses at the ends of the range",
     ok_with_dns({{"a", {ip(0, 0, 0, 0), ip(255, 255, 255, 255)}}}),
     R"({"status":"ok","version":1,"dns":[{"adapter":"a","servers":["0.0.0.0","255.255.255.255"]}]})"},
    {"names before dns", OkResponse{7, {"x"}, {{"y", {ip(1, 1, 1, 1)}}}},
     R"({"status":"ok","version":7,"names":["x"],"dns":[{"adapter":"y","servers":["1.1.1.1"]}]})"},
    {"largest version", OkResponse{4294967295u, {}, {}}, R"({"status":"ok","version":4294967295})"},
    {"version zero", OkResponse{0, {}, {}}, R"({"status":"ok","version":0})"},
    {"rejected", ErrorResponse{FailureKind::Rejected, "caller not allowed"},
     R"({"status":"error","kind":"rejected","message":"caller not allowed"})"},
    {"not found", ErrorResponse{FailureKind::NotFound, "item not found: Ethernet 2"},
     R"({"status":"error","kind":"not_found","message":"item not found: Ethernet 2"})"},
    {"failed with empty message", ErrorResponse{FailureKind::Failed, ""},
     R"({"status":"error","kind":"failed","message":""})"},
    {"quote, backslash, tab, 0x01", ErrorResponse{FailureKind::Failed, "a\"b\\c\td\x01z"},
     R"({"status":"error","kind":"failed","message":"a\"b\\c\td\u0001z"})"},
    {"every short escape", ErrorResponse{FailureKind::Failed, "\b\t\n\f\r"},
     R"({"status":"error","kind":"failed","message":"\b\t\n\f\r"})"},
    {"other controls in lower-case hex, NUL included",
     ErrorResponse{FailureKind::Failed, std::string("\x00\x0b\x1b\x1f", 4)},
     R"({"status":"error","kind":"failed","message":"\u0000\u000b\u001b\u001f"})"},
    {"slash and DEL copied", ErrorResponse{FailureKind::Failed, "a/b\x7f"},
     "{\"status\":\"error\",\"kind\":\"failed\",\"message\":\"a/b\x7f\"}"},
    {"non-ASCII copied as raw UTF-8",
     ErrorResponse{FailureKind::Failed,
                   "Zugriff verweigert – Ä 日本 \xF0\x9F\x98\x80 \xE2\x80\xA8"},
     "{\"status\":\"error\",\"kind\":\"failed\",\"message\":\"Zugriff verweigert – Ä 日本 "
     "\xF0\x9F\x98\x80 \xE2\x80\xA8\"}"},
    {"names escaped like messages", ok_with_names({"a\"b", "c\\d"}),
     R"({"status":"ok","version":1,"names":["a\"b","c\\d"]})"},
    {"adapter escaped like messages", ok_with_dns({{"tab\there", {}}}),
     R"({"status":"ok","version":1,"dns":[{"adapter":"tab\there","servers":[]}]})"},
    {"position suffix kept in the message",
     ErrorResponse{FailureKind::Rejected, "EOF while parsing a value at line 1 column 0"},
     R"({"status":"error","kind":"rejected","message":"EOF while parsing a value at line 1 column 0"})"},
};

TEST(Response, EncodesExactBytes) {
    for (const auto& c : ENCODING_CASES) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(encode_response(c.response), c.expected + "\n");
    }
}

// The same value built independently with a JSON library, for comparison after parsing.
nlohmann::json expected_value(const Response& response) {
    if (const auto* error = std::get_if<ErrorResponse>(&response)) {
        return {{"status", "error"},
                {"kind", std::string(wire_name(error->kind))},
                {"message", error->message}};
    }
    const auto& ok = std::get<OkResponse>(response);
    nlohmann::json value = {{"status", "ok"}, {"version", ok.version}};
    if (!ok.names.empty()) {
        value["names"] = ok.names;
    }
    if (!ok.dns.empty()) {
        auto& dns = value["dns"] = nlohmann::json::array();
        for (const auto& setting : ok.dns) {
            auto servers = nlohmann::json::array();
            for (const auto& server : setting.servers) {
                servers.push_back(std::to_string(server.octets[0]) + "." +
                                  std::to_string(server.octets[1]) + "." +
                                  std::to_string(server.octets[2]) + "." +
                                  std::to_string(server.octets[3]));
            }
            dns.push_back({{"adapter", setting.adapter}, {"servers", servers}});
        }
    }
    return value;
}

TEST(Response, ParsesBackToTheSameValue) {
    std::vector<Response> responses;
    for (const auto& c : ENCODING_CASES) {
        responses.push_back(c.response);
    }
    // Every byte value below 0x80 in one message, and every short escape in a name.
    std::string all_ascii;
    for (int byte = 0; byte < 0x80; ++byte) {
        all_ascii += static_cast<char>(byte);
    }
    responses.push_back(ErrorResponse{FailureKind::Failed, all_ascii});
    responses.push_back(ok_with_names({all_ascii, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"}));

    for (const auto& response : responses) {
        const std::string line = encode_response(response);
        SCOPED_TRACE(line);
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), '\n');
        EXPECT_EQ(line.find('\n'), line.size() - 1) << "only the terminator may be a line feed";
        const auto parsed = nlohmann::json::parse(line.substr(0, line.size() - 1), nullptr, false);
        ASSERT_FALSE(parsed.is_discarded());
        EXPECT_EQ(parsed, expected_value(response));
    }
}

} // namespace
} // namespace vemlox
