// The wire names of the operations and fields, and how lists of them are written in failure texts.
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

// "`a`", "`a` or `b`", or "one of `a`, `b`, `c`".
[[nodiscard]] std::string name_list(std::span<const std::string_view> names);

} // namespace vemlox
