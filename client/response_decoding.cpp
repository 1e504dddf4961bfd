#include "response_decoding.hpp"

#include "protocol/ipv4.hpp"
#include "protocol/text_result.hpp"
#include "protocol/wire_names.hpp"

#include <array>
#include <limits>
#include <nlohmann/json.hpp>

namespace vemlox::client {

namespace {

using nlohmann::json;

constexpr std::array<FailureKind, 3> KINDS{FailureKind::Rejected, FailureKind::NotFound,
                                           FailureKind::Failed};

TextResult<std::vector<std::string>> decode_names(const json& value) {
    if (!value.is_array()) {
        return std::unexpected("\"names\" is not an array");
    }
    std::vector<std::string> names;
    for (const json& name : value) {
        if (!name.is_string()) {
            return std::unexpected("a name is not a string");
        }
        names.push_back(name.get<std::string>());
    }
    return names;
}

TextResult<DnsSetting> decode_setting(const json& value) {
    if (!value.is_object()) {
        return std::unexpected("a \"dns\" entry is not an object");
    }
    const auto adapter = value.find(member::ADAPTER);
    const auto servers = value.find(member::SERVERS);
    if (adapter == value.end() || !adapter->is_string() || servers == value.end() ||
        !servers->is_array()) {
        return std::unexpected("a \"dns\" entry lacks its \"adapter\" text or \"servers\" array");
    }
    DnsSetting setting{adapter->get<std::string>(), {}};
    for (const json& server : *servers) {
        const auto address =
            server.is_string() ? parse_ipv4(server.get<std::string>()) : std::nullopt;
        if (!address) {
            return std::unexpected("a DNS server is not an IPv4 address: " + server.dump());
        }
        setting.servers.push_back(*address);
    }
    return setting;
}

TextResult<Response> decode_ok(const json& object) {
    const auto version = object.find(member::VERSION);
    if (version == object.end() || !version->is_number_unsigned() ||
        version->get<std::uint64_t>() > std::numeric_limits<std::uint32_t>::max()) {
        return std::unexpected("an ok response without a valid \"version\"");
    }
    OkResponse ok;
    ok.version = static_cast<std::uint32_t>(version->get<std::uint64_t>());
    if (const auto names = object.find(member::NAMES); names != object.end()) {
        VEMLOX_ASSIGN_OR_RETURN(ok.names, decode_names(*names));
    }
    if (const auto dns = object.find(member::DNS); dns != object.end()) {
        if (!dns->is_array()) {
            return std::unexpected("\"dns\" is not an array");
        }
        for (const json& entry : *dns) {
            VEMLOX_ASSIGN_OR_RETURN(DnsSetting setting, decode_setting(entry));
            ok.dns.push_back(std::move(setting));
        }
    }
    return ok;
}

TextResult<Response> decode_error(const json& object) {
    const auto kind = object.find(member::KIND);
    const auto message = object.find(member::MESSAGE);
    if (kind == object.end() || !kind->is_string() || message == object.end() ||
        !message->is_string()) {
        return std::unexpected("an error response without \"kind\" and \"message\" texts");
    }
    for (const FailureKind known : KINDS) {
        if (wire_name(known) == kind->get<std::string>()) {
            return ErrorResponse{known, message->get<std::string>()};
        }
    }
    return std::unexpected("unknown error kind " + kind->dump());
}

} // namespace

TextResult<Response> decode_response(std::string_view line) {
    const json object = json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        return std::unexpected("the response is not a JSON object");
    }
    const auto status = object.find(member::STATUS);
    if (status == object.end() || !status->is_string()) {
        return std::unexpected("the response has no \"status\" text");
    }
    if (status->get<std::string>() == STATUS_OK) {
        return decode_ok(object);
    }
    if (status->get<std::string>() == STATUS_ERROR) {
        return decode_error(object);
    }
    return std::unexpected("unknown response status " + status->dump());
}

} // namespace vemlox::client
