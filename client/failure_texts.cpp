#include "failure_texts.hpp"

#include "failure_kinds.hpp"
#include "win32_shared/os_error_text.hpp"
#include "win32_shared/product_names.hpp"

#include <algorithm>
#include <windows.h>

namespace vemlox::client::failure {

namespace {

using Kind = Error::Kind;

Error error(Kind kind, std::string message, std::uint32_t code = ERROR_SUCCESS) {
    return Error{kind, std::move(message), code};
}

std::string pipe_name() {
    return std::string(win::PIPE_NAME);
}

std::string duration_text(std::chrono::milliseconds span) {
    const long long ms = std::max<long long>(span.count(), 0);
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

} // namespace

Error answer(FailureKind kind, std::string message) {
    return error(kind_of_answer(kind), std::move(message));
}

Error unreadable_response(const std::string& why) {
    return error(Kind::BadResponse, "unreadable response from the service: " + why);
}

Error response_too_long(std::size_t max_bytes) {
    return error(Kind::BadResponse, "the response exceeds " + std::to_string(max_bytes) + " bytes");
}

Error cancelled(std::string_view what) {
    return error(Kind::Cancelled, "the call was cancelled; " + std::string(what), ERROR_CANCELLED);
}

Error no_event(std::uint32_t code) {
    return error(Kind::NoResources,
                 "Windows refused this process an event for the call: " + win::os_error_text(code) +
                     "; nothing was sent",
                 code);
}

Error nobody_serves(Kind kind, std::uint32_t code) {
    return error(kind,
                 (kind == Kind::NotInstalled
                      ? "the Vemlox service is not installed (nothing serves "
                      : "the Vemlox service is not running (nothing serves ") +
                     pipe_name() + ")",
                 code);
}

Error service_state_unknown(std::uint32_t code) {
    return error(Kind::CannotConnect,
                 "nothing serves " + pipe_name() +
                     ", and the Service Control Manager cannot say whether the Vemlox service "
                     "runs: " +
                     win::os_error_text(code),
                 code);
}

Error still_starting(std::chrono::milliseconds busy_wait, std::uint32_t code) {
    return error(Kind::Starting,
                 "the Vemlox service is starting and has not opened " + pipe_name() + " within " +
                     duration_text(busy_wait) + "; try again later",
                 code);
}

Error stayed_busy(std::chrono::milliseconds busy_wait, std::uint32_t code) {
    return error(Kind::Busy,
                 "the Vemlox service stayed busy for " + duration_text(busy_wait) +
                     "; try again later",
                 code);
}

Error cannot_open_pipe(std::uint32_t code) {
    return error(Kind::CannotConnect,
                 "cannot open " + pipe_name() + ": " + win::os_error_text(code), code);
}

Error server_unidentified(std::uint32_t code) {
    return error(Kind::UntrustedServer,
                 "cannot identify the process serving " + pipe_name() + ": " +
                     win::os_error_text(code) + "; nothing was sent",
                 code);
}

Error server_uncheckable(std::uint32_t code) {
    if (code == ERROR_ACCESS_DENIED) {
        return error(Kind::UntrustedServer,
                     "this session may not ask the Service Control Manager about the Vemlox "
                     "service (only interactive and service logons may), so the process "
                     "serving " +
                         pipe_name() + " cannot be checked; nothing was sent",
                     code);
    }
    return error(Kind::UntrustedServer,
                 "cannot ask the Service Control Manager about the Vemlox service: " +
                     win::os_error_text(code) + "; nothing was sent",
                 code);
}

Error untrusted_server(std::string found) {
    return error(Kind::UntrustedServer, std::move(found));
}

Error transfer(std::uint32_t code, std::chrono::milliseconds response_timeout,
               std::string_view failed) {
    switch (kind_of_transfer_failure(code)) {
    case Kind::TimedOut:
        return error(Kind::TimedOut,
                     "no response from the Vemlox service within " +
                         duration_text(response_timeout) + "; the connection was closed",
                     code);
    case Kind::Cancelled:
        return cancelled("the connection was closed");
    default:
        return error(Kind::ConnectionLost, std::string(failed) + ": " + win::os_error_text(code),
                     code);
    }
}

Error closed_without_response(std::uint32_t code) {
    return error(Kind::ConnectionLost,
                 "the service closed the connection without a complete response", code);
}

} // namespace vemlox::client::failure
