// The desktop application's side of the pipe: one request per connection to the Vemlox service,
// answered by one typed response. Nothing is sent until the pipe's server is known to be the
// running service, because while the service is stopped any process may create the pipe name.
#pragma once

#include "protocol/request.hpp"
#include "protocol/response.hpp"

#include <chrono>
#include <expected>
#include <string>
#include <string_view>

namespace vemlox::client {

// Why a request got no response. The message is a sentence fragment fit to show to a user.
struct ClientError {
    enum class Kind {
        ServiceNotRunning, // nobody serves the pipe
        ServiceBusy,       // the pipe stayed busy for the whole wait
        ConnectFailed,     // opening the pipe failed otherwise
        UntrustedServer,   // the pipe is served by a process other than the running service
        SendFailed,
        ReceiveFailed, // the connection ended before a whole response line arrived
        TimedOut,      // no whole response line within the response timeout; the pipe was closed
        BadResponse,   // the response line could not be read as a response
    };
    Kind kind;
    std::string message;
};

struct ClientOptions {
    // The service serves one client at a time; while it is busy, wait this long for it in all.
    std::chrono::milliseconds busy_wait{10000};
    // From the moment the server is trusted until the whole response line has arrived. Operations
    // wait for PowerShell without a limit of their own, so this is generous.
    std::chrono::milliseconds response_timeout{std::chrono::minutes(5)};
};

// Sends `request_line` (without line feed; one is added) and returns the response line without
// its line feed, undecoded.
[[nodiscard]] std::expected<std::string, ClientError> exchange(std::string_view request_line,
                                                               const ClientOptions& options = {});

// Sends one request and decodes the answer. An error response of the service is a Response too;
// only a failure to get one is a ClientError.
[[nodiscard]] std::expected<Response, ClientError> call(const Request& request,
                                                        const ClientOptions& options = {});

} // namespace vemlox::client
