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

#include "protocol/request.hpp"
#include "protocol/response.hpp"

#include <chrono>
#include <cstdint>
#include <expected>
#include <stop_token>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
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
    // From the moment the server is trusted until the whole response line has arrived. Operations
    // wait for PowerShell without a limit of their own, so this is generous.
    std::chrono::milliseconds response_timeout{std::chrono::minutes(5)};
    // A stop requested through it cancels the call (see the top of this header).
    std::stop_token stop;
};

// The raw exchange, for tools: sends `request_line` (without line feed; one is added) and returns
// the response line without its line feed, undecoded.
[[nodiscard]] std::expected<std::string, Error> exchange(std::string_view request_line,
                                                         const ClientOptions& options = {});

// A response line read back: the ok response, or the Error for an error response (Rejected,
// NotFound, Failed) or for an unreadable line (BadResponse).
[[nodiscard]] std::expected<OkResponse, Error> read_answer(std::string_view line);

// What each operation's ok response gives the app. Every operation must have one: a request type
// without it does not compile (see the check below).
template <typename Operation> struct ResultOf;

struct NoResult {
    using type = void;
    static void from(OkResponse&&) {}
};
template <auto Member> struct Reported {
    using type = std::remove_cvref_t<decltype(std::declval<OkResponse&>().*Member)>;
    static type from(OkResponse&& ok) { return std::move(ok.*Member); }
};

template <> struct ResultOf<request::Ping> : NoResult {};
template <> struct ResultOf<request::SetMachineStartup> : NoResult {};
template <> struct ResultOf<request::CreateRestorePoint> : NoResult {};
// The adapters that were enabled, in the order they were enabled.
template <> struct ResultOf<request::EnableAdapters> : Reported<&OkResponse::names> {};
template <> struct ResultOf<request::DisableAdapters> : NoResult {};
template <> struct ResultOf<request::RenewIp> : NoResult {};
// Each adapter whose servers were changed, with the servers it had before: what restore_dns takes.
template <> struct ResultOf<request::UsePublicDns> : Reported<&OkResponse::dns> {};
template <> struct ResultOf<request::RestoreDns> : NoResult {};

template <typename Operation>
concept Typed = requires(OkResponse ok) {
    typename ResultOf<Operation>::type;
    ResultOf<Operation>::from(std::move(ok));
};
template <typename> inline constexpr bool EVERY_OPERATION_TYPED = false;
template <typename... Operations>
inline constexpr bool EVERY_OPERATION_TYPED<std::variant<Operations...>> = (Typed<Operations> &&
                                                                            ...);
static_assert(EVERY_OPERATION_TYPED<Request>, "every operation needs its ResultOf and typed call");

template <typename Operation>
using Result = std::expected<typename ResultOf<Operation>::type, Error>;

// Sends one request and reads the ok response; any other outcome is the Error.
[[nodiscard]] std::expected<OkResponse, Error> call_service(const Request& request,
                                                            const ClientOptions& options = {});

// One operation, its result typed.
template <Typed Operation>
[[nodiscard]] Result<Operation> call(const Operation& operation,
                                     const ClientOptions& options = {}) {
    std::expected<OkResponse, Error> ok = call_service(Request(operation), options);
    if (!ok) {
        return std::unexpected(std::move(ok.error()));
    }
    if constexpr (std::is_void_v<typename ResultOf<Operation>::type>) {
        return {};
    } else {
        return ResultOf<Operation>::from(std::move(*ok));
    }
}

// The operations, one call each.

[[nodiscard]] inline Result<request::Ping> ping(const ClientOptions& options = {}) {
    return call(request::Ping{}, options);
}
[[nodiscard]] inline Result<request::SetMachineStartup>
set_machine_startup(std::string name, bool enabled, const ClientOptions& options = {}) {
    return call(request::SetMachineStartup{std::move(name), enabled}, options);
}
[[nodiscard]] inline Result<request::CreateRestorePoint>
create_restore_point(const ClientOptions& options = {}) {
    return call(request::CreateRestorePoint{}, options);
}
[[nodiscard]] inline Result<request::EnableAdapters>
enable_adapters(const ClientOptions& options = {}) {
    return call(request::EnableAdapters{}, options);
}
[[nodiscard]] inline Result<request::DisableAdapters>
disable_adapters(std::vector<std::string> names, const ClientOptions& options = {}) {
    return call(request::DisableAdapters{std::move(names)}, options);
}
[[nodiscard]] inline Result<request::RenewIp> renew_ip(const ClientOptions& options = {}) {
    return call(request::RenewIp{}, options);
}
[[nodiscard]] inline Result<request::UsePublicDns>
use_public_dns(const ClientOptions& options = {}) {
    return call(request::UsePublicDns{}, options);
}
[[nodiscard]] inline Result<request::RestoreDns> restore_dns(std::vector<DnsSetting> settings,
                                                             const ClientOptions& options = {}) {
    return call(request::RestoreDns{std::move(settings)}, options);
}

} // namespace vemlox::client
