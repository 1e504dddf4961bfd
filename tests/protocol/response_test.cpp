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

// The wire names of the kinds are pinned by the encodings below, and the dispatcher's log lines pin
// "NotFound" and "Failed"; no log line there is a rejection.
TEST(Response, RejectedKindWordInTheLog) {
    EXPECT_EQ(log_word(FailureKind::Rejected), "Rejected");
}

struct EncodingCase {
    const char* what;
    Response response;
    std::string expected;
};

TEST(Response, EncodesExactBytes) {
    const EncodingCase cases[] = {
        {"nothing", OkResponse{}, R"({"status":"ok","version":1})"},
        {"empty names are left out", OkResponse{1, reply::Names{}},
         R"({"status":"ok","version":1})"},
        {"names after version, escaped like messages",
         OkResponse{1, reply::Names{{"Ethernet", "a\"b", "c\\d"}}},
         R"({"status":"ok","version":1,"names":["Ethernet","a\"b","c\\d"]})"},
        {"empty dns is left out", OkResponse{1, reply::DnsSettings{}},
         R"({"status":"ok","version":1})"},
        {"dns with servers at the ends of the range and with none",
         OkResponse{1,
                    reply::DnsSettings{
                        {{"Ethernet", {ip(192, 168, 1, 1), ip(0, 0, 0, 0), ip(255, 255, 255, 255)}},
                         {"tab\there", {}}}}},
         R"({"status":"ok","version":1,"dns":[{"adapter":"Ethernet","servers":["192.168.1.1",)"
         R"("0.0.0.0","255.255.255.255"]},{"adapter":"tab\there","servers":[]}]})"},
        {"the version as given", OkResponse{7, reply::Nothing{}}, R"({"status":"ok","version":7})"},
        {"rejected", ErrorResponse{FailureKind::Rejected, "caller not allowed"},
         R"({"status":"error","kind":"rejected","message":"caller not allowed"})"},
        {"not found", ErrorResponse{FailureKind::NotFound, "item not found: Ethernet 2"},
         R"({"status":"error","kind":"not_found","message":"item not found: Ethernet 2"})"},
        {"quote, backslash and every short escape",
         ErrorResponse{FailureKind::Failed, "a\"b\\c\b\t\n\f\r"},
         R"({"status":"error","kind":"failed","message":"a\"b\\c\b\t\n\f\r"})"},
        {"other controls in lower-case hex, NUL included",
         ErrorResponse{FailureKind::Failed, std::string("\x00\x01\x0b\x1b\x1f", 5)},
         R"({"status":"error","kind":"failed","message":"\u0000\u0001\u000b\u001b\u001f"})"},
        {"slash, DEL and non-ASCII copied as they are",
         ErrorResponse{FailureKind::Failed,
                       "a/b\x7f Zugriff verweigert – Ä 日本 \xF0\x9F\x98\x80 \xE2\x80\xA8"},
         "{\"status\":\"error\",\"kind\":\"failed\",\"message\":\"a/b\x7f Zugriff verweigert – Ä "
         "日本 \xF0\x9F\x98\x80 \xE2\x80\xA8\"}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(encode_response(c.response), c.expected + "\n");
    }
}

// Whatever bytes a message holds, the line is one line of JSON that reads back the same.
TEST(Response, EveryAsciiByteReadsBackFromOneLine) {
    std::string all_ascii;
    for (int byte = 0; byte < 0x80; ++byte) {
        all_ascii += static_cast<char>(byte);
    }
    const std::string line = encode_response(ErrorResponse{FailureKind::Failed, all_ascii});
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "only the terminator may be a line feed";
    EXPECT_EQ(nlohmann::json::parse(line.substr(0, line.size() - 1), nullptr, false),
              (nlohmann::json{{"status", "error"}, {"kind", "failed"}, {"message", all_ascii}}));
}

} // namespace
} // namespace vemlox
