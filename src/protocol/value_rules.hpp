// The rules a decoded request's values must follow beyond the schema: how many names a request may
// carry, which characters a name may hold, which addresses may be DNS servers. Each request type
// names its members' rules in its wire schema; the adapter and DNS actions apply
// check_adapter_name again before a name reaches a script.
#pragma once

#include "protocol/text_result.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vemlox {

struct Ipv4Address;
struct DnsSetting;

inline constexpr std::size_t MAX_ADAPTER_NAMES = 8;
inline constexpr std::size_t MAX_DNS_SERVERS = 4;
inline constexpr std::size_t MAX_ADAPTER_NAME_CHARS = 256;
inline constexpr std::size_t MAX_STARTUP_ENTRY_NAME_CHARS = 255;

// "invalid adapter name"
[[nodiscard]] TextResult<void> check_adapter_name(std::string_view name);
// "invalid startup entry name"
[[nodiscard]] TextResult<void> check_startup_entry_name(std::string_view name);
// "invalid adapter list" for no names or too many, before any name is checked.
[[nodiscard]] TextResult<void> check_adapter_list(const std::vector<std::string>& names);
// "invalid DNS servers" for too many servers or one that cannot be a DNS server.
[[nodiscard]] TextResult<void> check_dns_servers(const std::vector<Ipv4Address>& servers);
// "invalid DNS list" for no settings or too many. Each setting's own rules follow from its schema,
// one setting completely before the next (wire::check_rules).
[[nodiscard]] TextResult<void> check_dns_list(const std::vector<DnsSetting>& settings);

} // namespace vemlox
