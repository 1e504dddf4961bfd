// Strict dotted-decimal IPv4 text: four octets, no leading zeros, nothing around them.
#pragma once

#include "protocol/request.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace vemlox {

[[nodiscard]] std::optional<Ipv4Address> parse_ipv4(std::string_view text);
[[nodiscard]] std::string format_ipv4(const Ipv4Address& address);

} // namespace vemlox
