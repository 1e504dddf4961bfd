#include "failure_kinds.hpp"
#include "protocol/line_framing.hpp"
#include "protocol/text_result.hpp"
#include "request_line.hpp"
#include "response_decoding.hpp"
#include "server_check.hpp"
#include "typed_call.hpp"
#include "win32_shared/bounded_io.hpp"
#include "win32_shared/deadline.hpp"
#include "win32_shared/os_error_text.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/service_query.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <algorithm>
#include <span>
#include <vemlox/client.hpp>
#include <windows.h>

namespace vemlox::client {

namespace {

using win::Deadline;
using win::UniqueHandle;
using win::UniqueServiceHandle;
using Kind = Error::Kind;

// No response of the service comes near this; a longer stream is not our service talking.
constexpr std::size_t MAX_RESPONSE_BYTES = 1 << 20;
// While the pipe is busy or not yet there, how often a waiting call looks again (and so at most
// how long a stop waits for WaitNamedPipeW, which cannot be interrupted).
constexpr DWORD POLL_MS = 50;

Error error(Kind kind, std::string message, DWORD code = ERROR_SUCCESS) {
    return Error{kind, std::move(message), code};
}

std::string pipe_name() {
    return std::string(win::PIPE_NAME);
}

std::string duration_text(std::chrono::milliseconds span) {
    const long long ms = std::max<long long>(span.count(), 0);
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

bool stop_requested(HANDLE stop) {
    return WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
}

Error cancelled(std::string_view what) {
    return error(Kind::Cancelled, "the call was cancelled; " + std::string(what), ERROR_CANCELLED);
}

// What the Service Control Manager says of our service, asked with the least rights there are:
// the default security of a service grants these to interactive and service logons, so a
// standard user's app may ask.
std::expected<ServiceProcess, DWORD> query_service_process() {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return std::unexpected(GetLastError());
    }
    const UniqueServiceHandle service(
        OpenServiceW(manager.get(), win::to_wide(win::SERVICE_NAME).c_str(), SERVICE_QUERY_STATUS));
    if (!service) {
        const DWORD code = GetLastError();
        if (code == ERROR_SERVICE_DOES_NOT_EXIST) {
            return ServiceProcess{ServiceProcess::State::NotInstalled, 0};
        }
        return std::unexpected(code);
    }
    VEMLOX_ASSIGN_OR_RETURN(const SERVICE_STATUS_PROCESS status,
                            win::query_service_status(service.get()));
    switch (status.dwCurrentState) {
    case SERVICE_RUNNING:
        return ServiceProcess{ServiceProcess::State::Running, status.dwProcessId};
    case SERVICE_START_PENDING:
        return ServiceProcess{ServiceProcess::State::Starting, status.dwProcessId};
    default:
        return ServiceProcess{ServiceProcess::State::NotRunning, 0};
    }
}

// Nobody serves the pipe: not installed, stopped, or not up yet. The message for the first two.
std::string nobody_serves_message(Kind kind) {
    return (kind == Kind::NotInstalled ? "the Vemlox service is not installed (nothing serves "
                                       : "the Vemlox service is not running (nothing serves ") +
           pipe_name() + ")";
}

std::expected<UniqueHandle, Error> open_pipe(const ClientOptions& options, HANDLE stop) {
    const std::wstring name = win::to_wide(win::PIPE_NAME);
    const Deadline deadline(options.busy_wait);
    while (true) {
        if (stop_requested(stop)) {
            return std::unexpected(cancelled("nothing was sent"));
        }
        // Identification level only: a server that is not ours must not be able to act as us.
        // Overlapped, so that the wait for the response can end at its timeout or a stop.
        UniqueHandle pipe(CreateFileW(
            name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        if (pipe) {
            return pipe;
        }
        const DWORD code = GetLastError();
        const DWORD remaining = deadline.remaining_ms();
        if (code == ERROR_FILE_NOT_FOUND) {
            const std::expected<ServiceProcess, DWORD> service = query_service_process();
            if (!service) {
                return std::unexpected(error(
                    Kind::CannotConnect,
                    "nothing serves " + pipe_name() +
                        ", and the Service Control Manager cannot say whether the Vemlox service "
                        "runs: " +
                        win::os_error_text(service.error()),
                    service.error()));
            }
            if (const auto kind = kind_when_nobody_serves(service->state)) {
                return std::unexpected(error(*kind, nobody_serves_message(*kind), code));
            }
            if (remaining == 0) {
                return std::unexpected(error(Kind::Starting,
                                             "the Vemlox service is starting and has not "
                                             "opened " +
                                                 pipe_name() + " within " +
                                                 duration_text(options.busy_wait) +
                                                 "; try again later",
                                             code));
            }
            // Started at logon beside the app, the service may not have created its pipe yet.
            static_cast<void>(WaitForSingleObject(stop, std::min(POLL_MS, remaining)));
            continue;
        }
        if (code != ERROR_PIPE_BUSY) {
            return std::unexpected(
                error(Kind::CannotConnect,
                      "cannot open " + pipe_name() + ": " + win::os_error_text(code), code));
        }
        if (remaining == 0) {
            return std::unexpected(error(Kind::Busy,
                                         "the Vemlox service stayed busy for " +
                                             duration_text(options.busy_wait) + "; try again later",
                                         code));
        }
        // Returns as soon as the server listens again; a failure (the pipe went away, or the
        // wait ran out) is seen by the next open.
        static_cast<void>(WaitNamedPipeW(name.c_str(), std::min(POLL_MS, remaining)));
    }
}

// The pipe's server must be the process the Service Control Manager runs as our service. This
// is sound because the service creates the pipe as its first instance, and as its only one: while
// the service runs nobody else can serve the name, and GetNamedPipeServerProcessId reports the
// process that created the first instance. The server's image path proves nothing: a standard
// user may not open a LocalSystem process, a 32-bit app sees another Program Files folder, and
// while the service is stopped any process started from the installed image would pass.
std::expected<void, Error> verify_server(HANDLE pipe) {
    auto untrusted = [](std::string message, DWORD code = ERROR_SUCCESS) {
        return std::unexpected(error(Kind::UntrustedServer, std::move(message), code));
    };
    ULONG server_process_id = 0;
    if (!GetNamedPipeServerProcessId(pipe, &server_process_id)) {
        const DWORD code = GetLastError();
        return untrusted("cannot identify the process serving " + pipe_name() + ": " +
                             win::os_error_text(code) + "; nothing was sent",
                         code);
    }
    const std::expected<ServiceProcess, DWORD> service = query_service_process();
    if (!service && service.error() == ERROR_ACCESS_DENIED) {
        return untrusted("this session may not ask the Service Control Manager about the Vemlox "
                         "service (only interactive and service logons may), so the process "
                         "serving " +
                             pipe_name() + " cannot be checked; nothing was sent",
                         ERROR_ACCESS_DENIED);
    }
    if (!service) {
        return untrusted("cannot ask the Service Control Manager about the Vemlox service: " +
                             win::os_error_text(service.error()) + "; nothing was sent",
                         service.error());
    }
    if (auto found = untrusted_server(server_process_id, *service)) {
        return untrusted(std::move(*found));
    }
    return {};
}

// The Error for a bounded transfer that ended with `code`; `failed` says what failed otherwise.
Error transfer_error(DWORD code, const ClientOptions& options, std::string_view failed) {
    switch (kind_of_transfer_failure(code)) {
    case Kind::TimedOut:
        return error(Kind::TimedOut,
                     "no response from the Vemlox service within " +
                         duration_text(options.response_timeout) + "; the connection was closed",
                     code);
    case Kind::Cancelled:
        return cancelled("the connection was closed");
    default:
        return error(Kind::ConnectionLost, std::string(failed) + ": " + win::os_error_text(code),
                     code);
    }
}

std::expected<void, Error> send_line(HANDLE pipe, HANDLE event, HANDLE stop,
                                     std::string_view request_line, const Deadline& deadline,
                                     const ClientOptions& options) {
    std::string bytes(request_line);
    bytes += '\n';
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const auto written = win::write_bounded(pipe, event, rest, deadline.remaining_ms(), stop);
        if (!written) {
            return std::unexpected(
                transfer_error(written.error(), options, "sending the request failed"));
        }
        rest.remove_prefix(*written);
    }
    return {};
}

std::expected<std::string, Error> receive_line(HANDLE pipe, HANDLE event, HANDLE stop,
                                               const Deadline& deadline,
                                               const ClientOptions& options) {
    DWORD failure = ERROR_SUCCESS; // why the pipe gave out, when it did
    auto line = read_line(
        [&](std::span<char> chunk) -> std::size_t {
            const auto got = win::read_bounded(pipe, event, chunk, deadline.remaining_ms(), stop);
            failure = got ? ERROR_SUCCESS : got.error();
            return got ? *got : 0;
        },
        MAX_RESPONSE_BYTES);
    if (line) {
        return std::move(*line);
    }
    if (line.error() == LineFailure::TooLong) {
        return std::unexpected(
            error(Kind::BadResponse,
                  "the response exceeds " + std::to_string(MAX_RESPONSE_BYTES) + " bytes"));
    }
    if (failure == ERROR_SUCCESS || failure == ERROR_BROKEN_PIPE ||
        failure == ERROR_PIPE_NOT_CONNECTED) {
        return std::unexpected(
            error(Kind::ConnectionLost,
                  "the service closed the connection without a complete response", failure));
    }
    return std::unexpected(transfer_error(failure, options, "reading the response failed"));
}

} // namespace

std::expected<std::string, Error> exchange(std::string_view request_line,
                                           const ClientOptions& options) {
    const UniqueHandle io_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle stop_event(io_event ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr);
    if (!stop_event) {
        const DWORD code = GetLastError();
        return std::unexpected(error(Kind::NoResources,
                                     "Windows refused this process an event for the call: " +
                                         win::os_error_text(code) + "; nothing was sent",
                                     code));
    }
    // Sets the event the waits also wait on; declared after it, so it is gone before the event.
    const std::stop_callback on_stop(
        options.stop, [event = stop_event.get()] { static_cast<void>(SetEvent(event)); });

    std::expected<UniqueHandle, Error> pipe = open_pipe(options, stop_event.get());
    if (!pipe) {
        return std::unexpected(std::move(pipe.error()));
    }
    if (auto verified = verify_server(pipe->get()); !verified) {
        return std::unexpected(std::move(verified.error()));
    }
    if (stop_requested(stop_event.get())) {
        return std::unexpected(cancelled("nothing was sent"));
    }
    const Deadline deadline(options.response_timeout);
    if (auto sent = send_line(pipe->get(), io_event.get(), stop_event.get(), request_line, deadline,
                              options);
        !sent) {
        return std::unexpected(std::move(sent.error()));
    }
    // Leaving by any road closes the pipe, so a response that comes too late goes nowhere.
    return receive_line(pipe->get(), io_event.get(), stop_event.get(), deadline, options);
}

std::expected<OkResponse, Error> read_answer(std::string_view line, const OkPayload& expected) {
    TextResult<Response> response = decode_response(line, expected);
    if (!response) {
        return std::unexpected(
            error(Kind::BadResponse, "unreadable response from the service: " + response.error()));
    }
    if (auto* failure = std::get_if<ErrorResponse>(&*response)) {
        return std::unexpected(error(kind_of_answer(failure->kind), std::move(failure->message)));
    }
    return std::get<OkResponse>(std::move(*response));
}

OkPayload reply_expected(const Request& request) {
    return std::visit(
        []<typename Operation>(const Operation&) {
            return OkPayload(std::in_place_type<typename Operation::Reply>);
        },
        request);
}

std::expected<OkResponse, Error> call_service(const Request& request,
                                              const ClientOptions& options) {
    VEMLOX_ASSIGN_OR_RETURN(const std::string line, exchange(encode_request(request), options));
    return read_answer(line, reply_expected(request));
}

} // namespace vemlox::client
