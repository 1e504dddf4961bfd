// The wire's names: of the operations, of every member of a request or a response, and how lists
// of them are written in failure texts. Everything that reads or writes the wire spells them here.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace vemlox {

// In the order of the Request alternatives.
inline constexpr std::array<std::string_view, 8> OP_NAMES = {"ping",
                                                             "set_machine_startup",
                                                             "create_restore_point",
                                                             "enable_adapters",
                                                             "disable_adapters",
                                                             "renew_ip",
                                                             "use_public_dns",
                                                             "restore_dns"};

inline constexpr std::string_view TAG_NAME = "op";

// Members of the requests.
namespace member {
inline constexpr std::string_view NAME = "name";
inline constexpr std::string_view ENABLED = "enabled";
inline constexpr std::string_view NAMES = "names";
inline constexpr std::string_view SETTINGS = "settings";
inline constexpr std::string_view ADAPTER = "adapter";
inline constexpr std::string_view SERVERS = "servers";
// Members of the responses; "names" and the DNS settings' members are shared with the requests.
inline constexpr std::string_view STATUS = "status";
inline constexpr std::string_view VERSION = "version";
inline constexpr std::string_view DNS = "dns";
inline constexpr std::string_view KIND = "kind";
inline constexpr std::string_view MESSAGE = "message";
} // namespace member

// The values of "status".
inline constexpr std::string_view STATUS_OK = "ok";
inline constexpr std::string_view STATUS_ERROR = "error";

// "`a`", "`a` or `b`", or "one of `a`, `b`, `c`".
[[nodiscard]] std::string name_list(std::span<const std::string_view> names);

} // namespace vemlox
