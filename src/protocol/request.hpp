// The decoded request: one alternative per operation, and the records requests and responses carry.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace vemlox {

// An IPv4 address, octets in network order.
struct Ipv4Address {
    std::array<std::uint8_t, 4> octets{};
    friend bool operator==(const Ipv4Address&, const Ipv4Address&) = default;
};

// One adapter's DNS servers in order of preference; no servers means "obtained automatically".
struct DnsSetting {
    std::string adapter;
    std::vector<Ipv4Address> servers;
    friend bool operator==(const DnsSetting&, const DnsSetting&) = default;
};

namespace request {
struct Ping {};
struct SetMachineStartup {
    std::string name;
    bool enabled = false;
};
struct CreateRestorePoint {};
struct EnableAdapters {};
struct DisableAdapters {
    std::vector<std::string> names;
};
struct RenewIp {};
struct UsePublicDns {};
struct RestoreDns {
    std::vector<DnsSetting> settings;
};
} // namespace request

// The alternatives stand in the wire order of their "op" names.
using Request = std::variant<request::Ping, request::SetMachineStartup, request::CreateRestorePoint,
                             request::EnableAdapters, request::DisableAdapters, request::RenewIp,
                             request::UsePublicDns, request::RestoreDns>;

// The "op" name of a request's operation.
[[nodiscard]] std::string_view op_name(const Request& request);

} // namespace vemlox
