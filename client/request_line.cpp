#include "request_line.hpp"

#include "protocol/ipv4.hpp"
#include "protocol/wire_names.hpp"

#include <nlohmann/json.hpp>
#include <type_traits>

namespace vemlox::client {

namespace {

using nlohmann::ordered_json;

ordered_json servers_json(const std::vector<Ipv4Address>& servers) {
    ordered_json list = ordered_json::array();
    for (const Ipv4Address& server : servers) {
        list.push_back(format_ipv4(server));
    }
    return list;
}

ordered_json fields(const Request& request) {
    ordered_json object;
    object[TAG_NAME] = std::string(op_name(request));
    std::visit(
        [&object](const auto& op) {
            using Op = std::decay_t<decltype(op)>;
            if constexpr (std::is_same_v<Op, request::SetMachineStartup>) {
                object[member::NAME] = op.name;
                object[member::ENABLED] = op.enabled;
            } else if constexpr (std::is_same_v<Op, request::DisableAdapters>) {
                object[member::NAMES] = op.names;
            } else if constexpr (std::is_same_v<Op, request::RestoreDns>) {
                ordered_json settings = ordered_json::array();
                for (const DnsSetting& setting : op.settings) {
                    settings.push_back(
                        ordered_json{{member::ADAPTER, setting.adapter},
                                     {member::SERVERS, servers_json(setting.servers)}});
                }
                object[member::SETTINGS] = std::move(settings);
            }
        },
        request);
    return object;
}

} // namespace

std::string encode_request(const Request& request) {
    return fields(request).dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

} // namespace vemlox::client
