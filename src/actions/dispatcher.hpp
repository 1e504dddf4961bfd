// Turning one request line into exactly one response and one log message.
#pragma once

#include "actions/machine_access.hpp"
#include "protocol/response.hpp"

#include <string>
#include <string_view>

namespace vemlox {

struct Outcome {
    Response response;
    std::string log_message;
};

inline constexpr std::string_view CALLER_NOT_ALLOWED = "caller not allowed";
inline constexpr std::string_view REQUEST_TOO_LARGE_OR_INCOMPLETE =
    "request too large or incomplete";

// Never fails: every line yields a response and a log message, and at most one action runs.
[[nodiscard]] Outcome handle_request(std::string_view line, const MachineAccess& machine);

// The outcomes of a connection turned away before it has a request line: a caller that is not one
// of ours (its UTF-8 executable path, empty when unknown), and a line that never came whole.
[[nodiscard]] Outcome reject_caller(std::string_view caller_path);
[[nodiscard]] Outcome reject_incomplete_request();

} // namespace vemlox
