// Turning one request line into exactly one response and one log message.
#pragma once

#include "actions/operations.hpp"
#include "protocol/response.hpp"

#include <string>
#include <string_view>

namespace vemlox {

struct Outcome {
    Response response;
    std::string log_message;
};

// Never fails: every line yields a response and a log message, and at most one operation runs.
[[nodiscard]] Outcome handle_request(std::string_view line, Operations& operations);

} // namespace vemlox
