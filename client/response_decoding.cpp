#include "response_decoding.hpp"

#include "protocol/ipv4.hpp"
#include "protocol/request.hpp"
#include "protocol/wire_names.hpp"

#include <array>
#include <limits>
#include <nlohmann/json.hpp>

namespace vemlox::client {

namespace {

using nlohmann::json;

constexpr std::array<FailureKind, 3> KINDS{FailureKind::Rejected, FailureKind::NotFound,
                                           FailureKind::Failed};

// `"name"`, or `"name" of <whole>` for a member of a record inside the reply.
std::string member_text(std::string_view name, std::string_view whole = {}) {
    std::string text = "\"";
    text.append(name);
    text += '"';
    if (!whole.empty()) {
        text += " of ";
        text.append(whole);
    }
    return text;
}

// One reader for each type a reply's member may hold, from its schema; `what` names the value in
// the failure text.

TextResult<void> read_value(const json& value, std::string& out, const std::string& what) {
    if (!value.is_string()) {
        return std::unexpected(what + " is not a string");
    }
    out = value.get<std::string>();
    return {};
}

TextResult<void> read_value(const json& value, Ipv4Address& out, const std::string& what) {
    const auto address = value.is_string() ? parse_ipv4(value.get<std::string>()) : std::nullopt;
    if (!address) {
        return std::unexpected(what + " is not an IPv4 address: " + value.dump());
    }
    out = *address;
    return {};
}

template <wire::Record Record>
TextResult<void> read_value(const json& value, Record& out, const std::string& what);

template <typename Element>
TextResult<void> read_value(const json& value, std::vector<Element>& out, const std::string& what) {
    if (!value.is_array()) {
        return std::unexpected(what + " is not an array");
    }
    for (const json& element : value) {
        VEMLOX_RETURN_IF_ERROR(read_value(element, out.emplace_back(), "an element of " + what));
    }
    return {};
}

// A record inside a reply has every member.
template <wire::Record Record>
TextResult<void> read_value(const json& value, Record& out, const std::string& what) {
    if (!value.is_object()) {
        return std::unexpected(what + " is not an object");
    }
    TextResult<void> result;
    wire::for_each_member(out, [&](std::string_view name, auto& member) {
        const std::string member_what = member_text(name, what);
        if (!result) {
            return;
        }
        const auto found = value.find(name);
        result = found == value.end() ? std::unexpected(member_what + " is missing")
                                      : read_value(*found, member, member_what);
    });
    return result;
}

// A reply's members may be left out: the service leaves out an empty one.
template <wire::Record Reply> TextResult<void> read_reply(const json& object, Reply& reply) {
    TextResult<void> result;
    wire::for_each_member(reply, [&](std::string_view name, auto& member) {
        const auto found = object.find(name);
        if (result && found != object.end()) {
            result = read_value(*found, member, member_text(name));
        }
    });
    return result;
}

TextResult<Response> decode_ok(const json& object, const OkPayload& expected) {
    const auto version = object.find(member::VERSION);
    if (version == object.end() || !version->is_number_unsigned() ||
        version->get<std::uint64_t>() > std::numeric_limits<std::uint32_t>::max()) {
        return std::unexpected("an ok response without a valid \"version\"");
    }
    // Read into an empty reply of the kind expected.
    VEMLOX_ASSIGN_OR_RETURN(OkPayload payload,
                            std::visit(
                                [&object]<typename Reply>(const Reply&) -> TextResult<OkPayload> {
                                    Reply reply;
                                    VEMLOX_RETURN_IF_ERROR(read_reply(object, reply));
                                    return reply;
                                },
                                expected));
    return OkResponse{static_cast<std::uint32_t>(version->get<std::uint64_t>()),
                      std::move(payload)};
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

TextResult<Response> decode_response(std::string_view line, const OkPayload& expected) {
    const json object = json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        return std::unexpected("the response is not a JSON object");
    }
    const auto status = object.find(member::STATUS);
    if (status == object.end() || !status->is_string()) {
        return std::unexpected("the response has no \"status\" text");
    }
    if (status->get<std::string>() == STATUS_OK) {
        return decode_ok(object, expected);
    }
    if (status->get<std::string>() == STATUS_ERROR) {
        return decode_error(object);
    }
    return std::unexpected("unknown response status " + status->dump());
}

} // namespace vemlox::client
