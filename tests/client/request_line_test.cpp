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

// The exact line, object form with "op" first, and the service's own parser reads it back to the
// same request.
TEST(RequestLine, EncodesEveryOperationAsTheServiceReadsIt) {
    const Case cases[] = {
        {request::Ping{}, R"({"op":"ping"})"},
        {request::SetMachineStartup{"Updater", false},
         R"({"op":"set_machine_startup","name":"Updater","enabled":false})"},
        {request::SetMachineStartup{"Up \"dater\" \u00e4", true},
         "{\"op\":\"set_machine_startup\",\"name\":\"Up \\\"dater\\\" "
         "\xc3\xa4\",\"enabled\":true}"},
        {request::CreateRestorePoint{}, R"({"op":"create_restore_point"})"},
        {request::EnableAdapters{}, R"({"op":"enable_adapters"})"},
        // Broken UTF-8 travels as U+FFFD.
        {request::DisableAdapters{{"Ethernet 2", "bad \xff"}},
         "{\"op\":\"disable_adapters\",\"names\":[\"Ethernet 2\",\"bad \xef\xbf\xbd\"]}"},
        {request::RenewIp{}, R"({"op":"renew_ip"})"},
        {request::UsePublicDns{}, R"({"op":"use_public_dns"})"},
        {request::RestoreDns{{{"Wi-Fi", {ip(192, 168, 0, 1), ip(10, 0, 0, 10)}}, {"Ethernet", {}}}},
         R"({"op":"restore_dns","settings":[{"adapter":"Wi-Fi","servers":["192.168.0.1","10.0.0.10"]},)"
         R"({"adapter":"Ethernet","servers":[]}]})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(encode_request(c.request), c.line);
        const auto parsed = parse_request(c.line);
        ASSERT_TRUE(parsed.has_value()) << parsed.error();
        EXPECT_EQ(encode_request(*parsed), c.line);
    }
}

} // namespace
} // namespace vemlox::client
