// The desktop application's side of the pipe: one request per connection to the Vemlox service.
// Each operation is one call with typed arguments and a typed result; every way a call can fail,
// from "not installed" to the service's own "not_found", is one Error. Nothing is sent until the
// pipe's server is known to be the running service, because while the service is stopped any
// process may create the pipe name.
//
// Cancellation: a stop requested through ClientOptions::stop ends the call's wait at once, closes
// the pipe and returns an Error of kind Cancelled. A request that was already sent is not taken
// back: the service finishes the operation (a changed DNS setting stays changed), and the app
// does not learn its result. Ask again (use_public_dns reports nothing the second time) or
// inspect the machine when that matters.
#pragma once

#include "protocol/dns_setting.hpp"
#include "protocol/ipv4.hpp"

#include <chrono>
#include <cstdint>
#include <expected>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace vemlox::client {

// Why a call has no result. The message is a sentence fragment fit to show to a user.
struct Error {
    enum class Kind {
        // No response came; for all but TimedOut, Cancelled and ConnectionLost nothing was sent.
        NotInstalled,    // the service "vemlox" is not installed
        Stopped,         // the service is installed but not running
        Starting,        // the service was still starting when the busy wait ended
        Busy,            // the pipe stayed busy with other clients for the whole busy wait
        CannotConnect,   // opening the pipe failed otherwise (access denied, ...)
        UntrustedServer, // the pipe is served by a process other than the running service
        NoResources,     // Windows refused this process what the call needs (an event)
        TimedOut,        // no whole response within the response timeout; the pipe was closed
        Cancelled,       // the caller's stop token asked to stop; the pipe was closed
        ConnectionLost,  // the connection ended before a whole response arrived
        BadResponse,     // the response could not be read as a response
        // The service answered with an error response.
        Rejected, // the request was refused (a caller not allowed, an invalid request)
        NotFound, // a named item does not exist
        Failed,   // the operation failed
    };
    Kind kind = Kind::Failed;
    std::string message;
    // The Windows error behind the failure, 0 where there is none (always 0 for the service's
    // own answers: their message carries it).
    std::uint32_t win32_code = 0;

    // True for the service's own answers (Rejected, NotFound, Failed).
    [[nodiscard]] bool is_error_answer() const {
        return kind == Kind::Rejected || kind == Kind::NotFound || kind == Kind::Failed;
    }
};

struct ClientOptions {
    // The service serves one client at a time, and the pipe appears only once the service is up;
    // while it is busy or starting, wait this long for it in all.
    std::chrono::milliseconds busy_wait{10000};
    // From the moment the server is trusted until the whole response line has arrived. The service
    // ends each program an operation runs (PowerShell, ipconfig) that outlasts its own limit of
    // four minutes, so the default leaves room for the operation's answer even then.
    std::chrono::milliseconds response_timeout{std::chrono::minutes(5)};
    // A stop requested through it cancels the call (see the top of this header).
    std::stop_token stop;
};

// The raw exchange, for tools: sends `request_line` (without line feed; one is added) and returns
// the response line without its line feed, undecoded.
[[nodiscard]] std::expected<std::string, Error> exchange(std::string_view request_line,
                                                         const ClientOptions& options = {});

// The operations, one call each; docs/protocol.md describes what each does on the machine.

[[nodiscard]] std::expected<void, Error> ping(const ClientOptions& options = {});
// Switches a machine-wide startup entry (a value of the machine's Run key) on or off. NotFound when
// the machine has no such entry.
[[nodiscard]] std::expected<void, Error> set_machine_startup(std::string name, bool enabled,
                                                             const ClientOptions& options = {});
[[nodiscard]] std::expected<void, Error> create_restore_point(const ClientOptions& options = {});
// Switches on every physical adapter that is off; gives their names in that order.
[[nodiscard]] std::expected<std::vector<std::string>, Error>
enable_adapters(const ClientOptions& options = {});
// Switches off the named adapters, after checking that every one exists (NotFound otherwise).
[[nodiscard]] std::expected<void, Error> disable_adapters(std::vector<std::string> names,
                                                          const ClientOptions& options = {});
[[nodiscard]] std::expected<void, Error> renew_ip(const ClientOptions& options = {});
// Points the connected adapters at the public DNS servers; gives each adapter whose servers were
// changed, with the servers it had before: what restore_dns takes back.
[[nodiscard]] std::expected<std::vector<DnsSetting>, Error>
use_public_dns(const ClientOptions& options = {});
[[nodiscard]] std::expected<void, Error> restore_dns(std::vector<DnsSetting> settings,
                                                     const ClientOptions& options = {});

} // namespace vemlox::client
