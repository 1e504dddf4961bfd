#include "protocol/parse_request.hpp"
#include "request_line.hpp"

#include <gtest/gtest.h>

namespace vemlox::client {
namespace {

Ipv4Address ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return Ipv4Address{{a, b, c, d}};
}

struct Case {
    Request request;
    std::string line;
};

TEST(RequestLine, EncodesEveryOperationInObjectFormOpFirst) {
    const std::vector<Case> cases = {
        {request::Ping{}, R"({"op":"ping"})"},
        {request::SetMachineStartup{"Updater", false},
         R"({"op":"set_machine_startup","name":"Updater","enabled":false})"},
        {request::SetMachineStartup{"Up \"dater\"", true},
         R"({"op":"set_machine_startup","name":"Up \"dater\"","enabled":true})"},
        {request::CreateRestorePoint{}, R"({"op":"create_restore_point"})"},
        {request::EnableAdapters{}, R"({"op":"enable_adapters"})"},
        {request::DisableAdapters{{"Wi-Fi", "Ethernet 2"}},
         R"({"op":"disable_adapters","names":["Wi-Fi","Ethernet 2"]})"},
        {request::RenewIp{}, R"({"op":"renew_ip"})"},
        {request::UsePublicDns{}, R"({"op":"use_public_dns"})"},
        {request::RestoreDns{{{"Wi-Fi", {ip(192, 168, 0, 1), ip(10, 0, 0, 10)}}, {"Ethernet", {}}}},
         R"({"op":"restore_dns","settings":[{"adapter":"Wi-Fi","servers":["192.168.0.1","10.0.0.10"]},{"adapter":"Ethernet","servers":[]}]})"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encode_request(c.request), c.line);
    }
}

TEST(RequestLine, EveryEncodedRequestPassesTheServicesOwnParser) {
    const std::vector<Request> requests = {
        request::Ping{},
        request::SetMachineStartup{"Ünïcödé entry", true},
        request::DisableAdapters{{"Ethernet", "Wi-Fi 2 (\u00e9)"}},
        request::RestoreDns{{{"Wi-Fi", {ip(1, 1, 1, 1)}}, {"LAN", {}}}},
        request::UsePublicDns{},
    };
    for (const Request& original : requests) {
        const std::string line = encode_request(original);
        const auto parsed = parse_request(line);
        ASSERT_TRUE(parsed.has_value()) << line << ": " << parsed.error();
        EXPECT_EQ(encode_request(*parsed), line);
    }
}

TEST(RequestLine, NonAsciiTextTravelsAsRawUtf8AndBrokenUtf8AsReplacement) {
    EXPECT_EQ(encode_request(request::DisableAdapters{{"WLAN \u00e4"}}),
              "{\"op\":\"disable_adapters\",\"names\":[\"WLAN \xc3\xa4\"]}");
    EXPECT_EQ(encode_request(request::DisableAdapters{{"bad \xff"}}),
              "{\"op\":\"disable_adapters\",\"names\":[\"bad \xef\xbf\xbd\"]}");
}

} // namespace
} // namespace vemlox::client
