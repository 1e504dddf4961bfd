// Turning a request line into a Request the actions may trust: size limit, decoding, value rules.
#pragma once

#include "protocol/request.hpp"
#include "protocol/text_result.hpp"

#include <cstddef>
#include <string_view>

namespace vemlox {

inline constexpr std::size_t MAX_REQUEST_BYTES = 16384;

[[nodiscard]] TextResult<Request> parse_request(std::string_view line);

} // namespace vemlox
