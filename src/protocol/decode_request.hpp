// Decoding one request text into a Request by the wire schema, with the schema's exact failure
// texts.
#pragma once

#include "protocol/request.hpp"
#include "protocol/text_result.hpp"

#include <string_view>

namespace vemlox {

// Checks only the schema; the value rules are parse_request's.
[[nodiscard]] TextResult<Request> decode_request(std::string_view text);

} // namespace vemlox
