// Turning a request line into a Request the actions may trust: size limit, decoding, value rules.
#pragma once

#include "protocol/request.hpp"

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

namespace vemlox {

inline constexpr std::size_t MAX_REQUEST_BYTES = 16384;
inline constexpr std::size_t MAX_ADAPTER_NAMES = 8;
inline constexpr std::size_t MAX_DNS_SERVERS = 4;
inline constexpr std::size_t MAX_ADAPTER_NAME_CHARS = 256;
inline constexpr std::size_t MAX_STARTUP_ENTRY_NAME_CHARS = 255;

[[nodiscard]] std::expected<void, std::string> check_adapter_name(std::string_view name);
[[nodiscard]] std::expected<void, std::string> check_startup_entry_name(std::string_view name);

[[nodiscard]] std::expected<Request, std::string> parse_request(std::string_view line);

} // namespace vemlox
