// The one response line per connection: its two forms and their exact encoding.
#pragma once

#include "protocol/request.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace vemlox {

enum class FailureKind { Rejected, NotFound, Failed };

// "rejected", "not_found", "failed": the kind as the client sees it.
[[nodiscard]] std::string_view wire_name(FailureKind kind);
// "Rejected", "NotFound", "Failed": the kind as the log shows it.
[[nodiscard]] std::string_view log_word(FailureKind kind);

// The payload is what the operation's Reply carries (request.hpp).
struct OkResponse {
    std::uint32_t version = 1;
    OkPayload payload;
    friend bool operator==(const OkResponse&, const OkResponse&) = default;
};

struct ErrorResponse {
    FailureKind kind = FailureKind::Rejected;
    std::string message;
    friend bool operator==(const ErrorResponse&, const ErrorResponse&) = default;
};

using Response = std::variant<OkResponse, ErrorResponse>;

// The whole line, line feed included, ready for a single write.
[[nodiscard]] std::string encode_response(const Response& response);

} // namespace vemlox
