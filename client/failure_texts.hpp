// Every Error the client makes itself, with its kind and its text: the one place their wording is
// written. Each message is a sentence fragment fit to show to a user.
#pragma once

#include "protocol/response.hpp"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vemlox/client.hpp>

namespace vemlox::client::failure {

// The service's own answer.
[[nodiscard]] Error answer(FailureKind kind, std::string message);
// A response line that is not one; `why` says what is wrong with it.
[[nodiscard]] Error unreadable_response(const std::string& why);
[[nodiscard]] Error response_too_long(std::size_t max_bytes);

// `what` says what became of the call: "nothing was sent", "the connection was closed".
[[nodiscard]] Error cancelled(std::string_view what);
[[nodiscard]] Error no_event(std::uint32_t code);

// Nobody serves the pipe: `kind` is NotInstalled or Stopped.
[[nodiscard]] Error nobody_serves(Error::Kind kind, std::uint32_t code);
[[nodiscard]] Error service_state_unknown(std::uint32_t code);
[[nodiscard]] Error still_starting(std::chrono::milliseconds busy_wait, std::uint32_t code);
[[nodiscard]] Error stayed_busy(std::chrono::milliseconds busy_wait, std::uint32_t code);
[[nodiscard]] Error cannot_open_pipe(std::uint32_t code);

// The pipe's server could not be checked, or is not the service (`found` ends in "nothing was
// sent").
[[nodiscard]] Error server_unidentified(std::uint32_t code);
[[nodiscard]] Error server_uncheckable(std::uint32_t code);
[[nodiscard]] Error untrusted_server(std::string found);

// A bounded transfer that ended with `code`; `failed` says what failed when it is no timeout or
// stop: "sending the request failed".
[[nodiscard]] Error transfer(std::uint32_t code, std::chrono::milliseconds response_timeout,
                             std::string_view failed);
[[nodiscard]] Error closed_without_response(std::uint32_t code);

} // namespace vemlox::client::failure
