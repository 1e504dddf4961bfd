#include "protocol/value_rules.hpp"

#include "protocol/request.hpp"
#include "protocol/utf8.hpp"

namespace vemlox {

namespace {

bool is_control(char32_t c) {
    return c <= 0x1F || (c >= 0x7F && c <= 0x9F);
}

// Adapter names reach PowerShell's -Name and -InterfaceAlias parameters, which treat wildcard and
// quoting characters specially, so those are refused along with control characters and slashes.
bool refused_in_adapter_name(char32_t c) {
    switch (c) {
    case U'*':
    case U'?':
    case U'[':
    case U']':
    case U'`':
    case U'\'':
    case U'"':
    case U'$':
    case U'\\':
    case U'/':
        return true;
    default:
        return is_control(c);
    }
}

// Startup entry names become registry value names, which may hold anything but a path separator.
bool refused_in_startup_entry_name(char32_t c) {
    return c == U'\\' || c == U'/' || is_control(c);
}

template <typename Refused>
bool name_is_acceptable(std::string_view name, std::size_t max_chars, Refused refused) {
    if (name.empty()) {
        return false;
    }
    std::size_t count = 0;
    std::size_t pos = 0;
    while (pos < name.size()) {
        const char32_t c = next_code_point(name, pos);
        if (++count > max_chars || refused(c)) {
            return false;
        }
    }
    return true;
}

// Multicast addresses and the two "no address" forms cannot be DNS servers.
bool refused_as_dns_server(const Ipv4Address& address) {
    const auto first = address.octets[0];
    const bool multicast = first >= 224 && first <= 239;
    const bool unspecified = address == Ipv4Address{{0, 0, 0, 0}};
    const bool broadcast = address == Ipv4Address{{255, 255, 255, 255}};
    return multicast || unspecified || broadcast;
}

} // namespace

TextResult<void> check_adapter_name(std::string_view name) {
    if (!name_is_acceptable(name, MAX_ADAPTER_NAME_CHARS, refused_in_adapter_name)) {
        return std::unexpected(std::string("invalid adapter name"));
    }
    return {};
}

TextResult<void> check_startup_entry_name(std::string_view name) {
    if (!name_is_acceptable(name, MAX_STARTUP_ENTRY_NAME_CHARS, refused_in_startup_entry_name)) {
        return std::unexpected(std::string("invalid startup entry name"));
    }
    return {};
}

TextResult<void> check_adapter_list(const std::vector<std::string>& names) {
    if (names.empty() || names.size() > MAX_ADAPTER_NAMES) {
        return std::unexpected(std::string("invalid adapter list"));
    }
    for (const std::string& name : names) {
        VEMLOX_RETURN_IF_ERROR(check_adapter_name(name));
    }
    return {};
}

TextResult<void> check_dns_servers(const std::vector<Ipv4Address>& servers) {
    if (servers.size() > MAX_DNS_SERVERS) {
        return std::unexpected(std::string("invalid DNS servers"));
    }
    for (const Ipv4Address& server : servers) {
        if (refused_as_dns_server(server)) {
            return std::unexpected(std::string("invalid DNS servers"));
        }
    }
    return {};
}

TextResult<void> check_dns_list(const std::vector<DnsSetting>& settings) {
    if (settings.empty() || settings.size() > MAX_ADAPTER_NAMES) {
        return std::unexpected(std::string("invalid DNS list"));
    }
    return {};
}

} // namespace vemlox
