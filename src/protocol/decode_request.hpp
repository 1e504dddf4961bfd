// Decoding one request text into a Request by the wire schema, with the schema's exact failure
// texts.
#pragma once

#include "protocol/request.hpp"

#include <expected>
#include <string>
#include <string_view>

namespace vemlox {

// Checks only the schema; the value rules are parse_request's.
[[nodiscard]] std::expected<Request, std::string> decode_request(std::string_view text);

} // namespace vemlox
