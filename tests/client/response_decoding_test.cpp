#include "response_decoding.hpp"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace vemlox::client {
namespace {

Ipv4Address ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return Ipv4Address{{a, b, c, d}};
}

// Each response with the kind of ok response the operation asked for gives.
TEST(ResponseDecoding, ReadsBackEveryResponseTheServiceCanEncode) {
    const std::vector<Response> responses = {
        OkResponse{},
        OkResponse{1, reply::Names{}},
        OkResponse{1, reply::Names{{"Wi-Fi", "Ethernet \"2\""}}},
        OkResponse{1, reply::DnsSettings{}},
        OkResponse{
            1, reply::DnsSettings{{{"Wi-Fi", {ip(192, 168, 1, 1), ip(8, 8, 4, 4)}}, {"LAN", {}}}}},
        ErrorResponse{FailureKind::Rejected, "caller not allowed"},
        ErrorResponse{FailureKind::NotFound, "item not found: Wi-Fi"},
        ErrorResponse{FailureKind::Failed, "os error: tab\there \x01 \xc3\xa4"},
    };
    for (const Response& response : responses) {
        std::string line = encode_response(response);
        ASSERT_EQ(line.back(), '\n');
        line.pop_back();
        const auto* ok = std::get_if<OkResponse>(&response);
        const OkPayload expected = ok == nullptr ? OkPayload{} : ok->payload;
        const auto decoded = decode_response(line, expected);
        ASSERT_TRUE(decoded.has_value()) << line << ": " << decoded.error();
        EXPECT_EQ(*decoded, response) << line;
    }
}

TEST(ResponseDecoding, SkipsMembersItDoesNotKnow) {
    const auto decoded =
        decode_response(R"({"status":"ok","version":2,"extra":[1,2]})", reply::Names{});
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(std::get<OkResponse>(*decoded).version, 2u);
}

TEST(ResponseDecoding, RefusesWhatIsNotAResponse) {
    const std::pair<std::string, OkPayload> cases[] = {
        {"not json", {}},
        {"[]", {}},
        {R"({"version":1})", {}},
        {R"({"status":"fine","version":1})", {}},
        {R"({"status":"ok"})", {}},
        {R"({"status":"ok","version":-1})", {}},
        {R"({"status":"ok","version":4294967296})", {}},
        {R"({"status":"ok","version":1,"names":"Wi-Fi"})", reply::Names{}},
        {R"({"status":"ok","version":1,"names":[1]})", reply::Names{}},
        {R"({"status":"ok","version":1,"dns":[{"adapter":"A"}]})", reply::DnsSettings{}},
        {R"({"status":"ok","version":1,"dns":[{"adapter":"A","servers":["1.1.1.01"]}]})",
         reply::DnsSettings{}},
        {R"({"status":"error","kind":"rejected"})", {}},
        {R"({"status":"error","kind":"Rejected","message":"x"})", {}},
        {R"({"status":"error","kind":"failed","message":7})", {}},
        {"{\"status\":\"error\",\"kind\":\"failed\",\"message\":\"\xff\"}", {}},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_FALSE(decode_response(line, expected).has_value()) << line;
    }
}

} // namespace
} // namespace vemlox::client
