// The request line a client sends: one request in the wire's object form, as compact JSON.
#pragma once

#include "protocol/request.hpp"

#include <string>

namespace vemlox::client {

// The JSON text without the line feed, "op" first. Text that is not valid UTF-8 is sent with
// U+FFFD in place of each bad sequence, so encoding cannot fail.
[[nodiscard]] std::string encode_request(const Request& request);

} // namespace vemlox::client
