// Which Error kind each failure is: the service's answers, the end of a bounded pipe transfer, and
// what the Service Control Manager says when nobody serves the pipe.
#pragma once

#include "protocol/response.hpp"
#include "server_check.hpp"

#include <cstdint>
#include <optional>
#include <vemlox/client.hpp>

namespace vemlox::client {

[[nodiscard]] Error::Kind kind_of_answer(FailureKind kind);

// `code` is the Windows error a bounded read or write of the pipe ended with.
[[nodiscard]] Error::Kind kind_of_transfer_failure(std::uint32_t code);

// Nothing while the service is starting or running: then the pipe is about to appear.
[[nodiscard]] std::optional<Error::Kind> kind_when_nobody_serves(ServiceProcess::State state);

} // namespace vemlox::client
