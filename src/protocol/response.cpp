#include "protocol/response.hpp"

#include "protocol/ipv4.hpp"
#include "protocol/wire_names.hpp"

#include <cstddef>
#include <vector>

namespace vemlox {

namespace {

// The escaping is fixed byte by byte so that the line is the same whatever produced the text:
// only what JSON requires is escaped, and non-ASCII text stays readable as raw UTF-8.
void append_json_string(std::string& out, std::string_view text) {
    static constexpr char HEX_DIGITS[] = "0123456789abcdef";
    out += '"';
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += HEX_DIGITS[byte >> 4];
                out += HEX_DIGITS[byte & 0x0F];
            } else {
                out += ch;
            }
        }
    }
    out += '"';
}

void append_member_name(std::string& out, std::string_view name) {
    append_json_string(out, name);
    out += ':';
}

// One JSON value for each type a reply's member may hold; any other type does not compile.

void append_value(std::string& out, const std::string& text) {
    append_json_string(out, text);
}

void append_value(std::string& out, const Ipv4Address& address) {
    append_json_string(out, format_ipv4(address));
}

template <wire::Record Record> void append_value(std::string& out, const Record& record);

template <typename Item> void append_value(std::string& out, const std::vector<Item>& items) {
    out += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i != 0) {
            out += ',';
        }
        append_value(out, items[i]);
    }
    out += ']';
}

// A record inside a reply has every member written, in wire order.
template <wire::Record Record> void append_value(std::string& out, const Record& record) {
    out += '{';
    bool first = true;
    wire::for_each_member(record, [&](std::string_view name, const auto& value) {
        if (!first) {
            out += ',';
        }
        first = false;
        append_member_name(out, name);
        append_value(out, value);
    });
    out += '}';
}

void append_response(std::string& out, const OkResponse& ok) {
    out += '{';
    append_member_name(out, member::STATUS);
    append_json_string(out, STATUS_OK);
    out += ',';
    append_member_name(out, member::VERSION);
    out += std::to_string(ok.version);
    // The reply's own members follow the version; an empty one is left out.
    std::visit(
        [&out](const auto& reply) {
            wire::for_each_member(reply, [&out](std::string_view name, const auto& value) {
                if (!value.empty()) {
                    out += ',';
                    append_member_name(out, name);
                    append_value(out, value);
                }
            });
        },
        ok.payload);
    out += '}';
}

void append_response(std::string& out, const ErrorResponse& error) {
    out += '{';
    append_member_name(out, member::STATUS);
    append_json_string(out, STATUS_ERROR);
    out += ',';
    append_member_name(out, member::KIND);
    append_json_string(out, wire_name(error.kind));
    out += ',';
    append_member_name(out, member::MESSAGE);
    append_json_string(out, error.message);
    out += '}';
}

} // namespace

std::string_view wire_name(FailureKind kind) {
    switch (kind) {
    case FailureKind::Rejected:
        return "rejected";
    case FailureKind::NotFound:
        return "not_found";
    case FailureKind::Failed:
        return "failed";
    }
    return "failed";
}

std::string_view log_word(FailureKind kind) {
    switch (kind) {
    case FailureKind::Rejected:
        return "Rejected";
    case FailureKind::NotFound:
        return "NotFound";
    case FailureKind::Failed:
        return "Failed";
    }
    return "Failed";
}

std::string encode_response(const Response& response) {
    std::string out;
    out.reserve(128);
    std::visit([&out](const auto& form) { append_response(out, form); }, response);
    out += '\n';
    return out;
}

} // namespace vemlox
