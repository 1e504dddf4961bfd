// The decoded request: one alternative per operation, and the records requests and responses carry.
// Each request type is the one place its operation is written: beside its fields it states its
// wire schema (wire_schema.hpp), what its ok response carries (`using Reply`) and, where the log
// shows more than its "op" name, its log label (`log_label()`).
#pragma once

#include "protocol/dns_setting.hpp"
#include "protocol/quoted.hpp"
#include "protocol/value_rules.hpp"
#include "protocol/wire_names.hpp"
#include "protocol/wire_schema.hpp"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vemlox {

template <> struct wire::SchemaOf<DnsSetting> {
    static constexpr auto WIRE =
        wire::record("struct DnsSetting",
                     wire::member(member::ADAPTER, &DnsSetting::adapter, check_adapter_name),
                     wire::member(member::SERVERS, &DnsSetting::servers, check_dns_servers));
};

// What an ok response carries besides its version. A member is left out of the line when it is
// empty.
namespace reply {

struct Nothing {
    static constexpr auto WIRE = wire::record("ok response");
    friend bool operator==(const Nothing&, const Nothing&) = default;
};

// Adapter names, in the order the operation handled them.
struct Names {
    std::vector<std::string> names;
    static constexpr auto WIRE =
        wire::record("ok response", wire::member(member::NAMES, &Names::names, wire::any_value));
    friend bool operator==(const Names&, const Names&) = default;
};

struct DnsSettings {
    std::vector<DnsSetting> dns;
    static constexpr auto WIRE =
        wire::record("ok response", wire::member(member::DNS, &DnsSettings::dns, wire::any_value));
    friend bool operator==(const DnsSettings&, const DnsSettings&) = default;
};

} // namespace reply

namespace request {

struct Ping {
    static constexpr auto WIRE = wire::operation("ping");
    using Reply = reply::Nothing;
};

struct SetMachineStartup {
    std::string name;
    bool enabled = false;

    static constexpr auto WIRE =
        wire::operation("set_machine_startup", "struct variant Request::SetMachineStartup",
                        wire::member("name", &SetMachineStartup::name, check_startup_entry_name),
                        wire::member("enabled", &SetMachineStartup::enabled, wire::any_value));
    using Reply = reply::Nothing;
    [[nodiscard]] std::string log_label() const {
        return "set_machine_startup " + quoted(name) + " enabled=" + (enabled ? "true" : "false");
    }
};

struct CreateRestorePoint {
    static constexpr auto WIRE = wire::operation("create_restore_point");
    using Reply = reply::Nothing;
};

struct EnableAdapters {
    static constexpr auto WIRE = wire::operation("enable_adapters");
    // The adapters switched on, in that order.
    using Reply = reply::Names;
};

struct DisableAdapters {
    std::vector<std::string> names;

    static constexpr auto WIRE =
        wire::operation("disable_adapters", "struct variant Request::DisableAdapters",
                        wire::member(member::NAMES, &DisableAdapters::names, check_adapter_list));
    using Reply = reply::Nothing;
    [[nodiscard]] std::string log_label() const { return "disable_adapters " + quoted_list(names); }
};

struct RenewIp {
    static constexpr auto WIRE = wire::operation("renew_ip");
    using Reply = reply::Nothing;
};

struct UsePublicDns {
    static constexpr auto WIRE = wire::operation("use_public_dns");
    // Each switched adapter with the servers it had before, in processing order: what restore_dns
    // takes back. They are the client's to keep, not the log's: its log line counts them, and
    // names no failure kind.
    using Reply = reply::DnsSettings;
    static constexpr bool LOG_SHOWS_FAILURE_KIND = false;
};

struct RestoreDns {
    std::vector<DnsSetting> settings;

    static constexpr auto WIRE =
        wire::operation("restore_dns", "struct variant Request::RestoreDns",
                        wire::member("settings", &RestoreDns::settings, check_dns_list));
    using Reply = reply::Nothing;
    [[nodiscard]] std::string log_label() const {
        return "restore_dns " + std::to_string(settings.size()) + " adapter(s)";
    }
};

} // namespace request

// The order of the alternatives is the order of the "op" names in the "unknown variant" text.
using Request = std::variant<request::Ping, request::SetMachineStartup, request::CreateRestorePoint,
                             request::EnableAdapters, request::DisableAdapters, request::RenewIp,
                             request::UsePublicDns, request::RestoreDns>;

inline constexpr auto OP_NAMES = wire::OperationsOf<Request>::NAMES;

// What an ok response can carry: each operation's Reply, each kind once.
using OkPayload = wire::OperationsOf<Request>::Replies;

// The "op" name of a request's operation.
[[nodiscard]] inline std::string_view op_name(const Request& request) {
    return OP_NAMES[request.index()];
}

} // namespace vemlox
