// The decoded request: one alternative per operation, and the records requests and responses carry.
// Each states its wire schema (wire_schema.hpp) beside its fields; that is the one place an
// operation's name, members and value rules are written.
#pragma once

#include "protocol/value_rules.hpp"
#include "protocol/wire_names.hpp"
#include "protocol/wire_schema.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vemlox {

// An IPv4 address, octets in network order. On the wire, strict dotted-decimal text.
struct Ipv4Address {
    std::array<std::uint8_t, 4> octets{};
    friend bool operator==(const Ipv4Address&, const Ipv4Address&) = default;
};

// One adapter's DNS servers in order of preference; no servers means "obtained automatically".
struct DnsSetting {
    std::string adapter;
    std::vector<Ipv4Address> servers;
    friend bool operator==(const DnsSetting&, const DnsSetting&) = default;

    static constexpr auto WIRE =
        wire::record("struct DnsSetting",
                     wire::member(member::ADAPTER, &DnsSetting::adapter, check_adapter_name),
                     wire::member(member::SERVERS, &DnsSetting::servers, check_dns_servers));
};

namespace request {

struct Ping {
    static constexpr auto WIRE = wire::operation("ping");
};

struct SetMachineStartup {
    std::string name;
    bool enabled = false;

    static constexpr auto WIRE =
        wire::operation("set_machine_startup", "struct variant Request::SetMachineStartup",
                        wire::member("name", &SetMachineStartup::name, check_startup_entry_name),
                        wire::member("enabled", &SetMachineStartup::enabled, wire::any_value));
};

struct CreateRestorePoint {
    static constexpr auto WIRE = wire::operation("create_restore_point");
};

struct EnableAdapters {
    static constexpr auto WIRE = wire::operation("enable_adapters");
};

struct DisableAdapters {
    std::vector<std::string> names;

    static constexpr auto WIRE =
        wire::operation("disable_adapters", "struct variant Request::DisableAdapters",
                        wire::member(member::NAMES, &DisableAdapters::names, check_adapter_list));
};

struct RenewIp {
    static constexpr auto WIRE = wire::operation("renew_ip");
};

struct UsePublicDns {
    static constexpr auto WIRE = wire::operation("use_public_dns");
};

struct RestoreDns {
    std::vector<DnsSetting> settings;

    static constexpr auto WIRE =
        wire::operation("restore_dns", "struct variant Request::RestoreDns",
                        wire::member("settings", &RestoreDns::settings, check_dns_list));
};

} // namespace request

// The order of the alternatives is the order of the "op" names in the "unknown variant" text.
using Request = std::variant<request::Ping, request::SetMachineStartup, request::CreateRestorePoint,
                             request::EnableAdapters, request::DisableAdapters, request::RenewIp,
                             request::UsePublicDns, request::RestoreDns>;

inline constexpr auto OP_NAMES = wire::OperationsOf<Request>::NAMES;

// The "op" name of a request's operation.
[[nodiscard]] inline std::string_view op_name(const Request& request) {
    return OP_NAMES[request.index()];
}

} // namespace vemlox
