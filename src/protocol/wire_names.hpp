// The wire's names that more than one record shares: the tag, the members of the responses and the
// request members they share. A request's other members and its "op" name are spelled in its wire
// schema (request.hpp).
#pragma once

#include <string_view>

namespace vemlox {

inline constexpr std::string_view TAG_NAME = "op";

namespace member {
// Shared by requests and responses.
inline constexpr std::string_view NAMES = "names";
inline constexpr std::string_view ADAPTER = "adapter";
inline constexpr std::string_view SERVERS = "servers";
// Members of the responses.
inline constexpr std::string_view STATUS = "status";
inline constexpr std::string_view VERSION = "version";
inline constexpr std::string_view DNS = "dns";
inline constexpr std::string_view KIND = "kind";
inline constexpr std::string_view MESSAGE = "message";
} // namespace member

// The values of "status".
inline constexpr std::string_view STATUS_OK = "ok";
inline constexpr std::string_view STATUS_ERROR = "error";

} // namespace vemlox
