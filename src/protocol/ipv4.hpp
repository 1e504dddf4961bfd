// An IPv4 address and its text form: strict dotted-decimal, four octets, no leading zeros, nothing
// around them. Part of the client's public interface.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vemlox {

// Octets in network order.
struct Ipv4Address {
    std::array<std::uint8_t, 4> octets{};
    friend bool operator==(const Ipv4Address&, const Ipv4Address&) = default;
};

[[nodiscard]] std::optional<Ipv4Address> parse_ipv4(std::string_view text);
// "192.168.0.1": at most 15 characters.
[[nodiscard]] std::string format_ipv4(const Ipv4Address& address);

} // namespace vemlox
