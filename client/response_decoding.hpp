// Reading the service's response line back into a typed Response.
#pragma once

#include "protocol/response.hpp"
#include "protocol/text_result.hpp"

#include <string_view>

namespace vemlox::client {

// `line` is the response without its line feed; an ok response's payload is read as `expected`
// says (an empty reply of the operation asked for). Members this client does not know are
// skipped, so a newer service that adds one is still understood; a known member of the wrong type,
// a missing one or a status other than "ok" and "error" fails with a description.
[[nodiscard]] TextResult<Response> decode_response(std::string_view line,
                                                   const OkPayload& expected);

} // namespace vemlox::client
