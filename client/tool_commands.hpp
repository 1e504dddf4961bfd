// vemlox-client's commands: its usage text, and the request line each command sends.
#pragma once

#include "protocol/response.hpp"
#include "protocol/text_result.hpp"

#include <span>
#include <string>
#include <string_view>

namespace vemlox::client {

extern const std::string_view USAGE;

// What a command sends, and the kind of ok response it expects back (nothing for a raw line).
struct ToolRequest {
    std::string line;
    OkPayload expected;
};

// The command and its arguments as given, or why they are not a request.
[[nodiscard]] TextResult<ToolRequest> parse_command(std::string_view command,
                                                    std::span<const std::string> rest);

} // namespace vemlox::client
