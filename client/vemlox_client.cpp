#include "failure_kinds.hpp"
#include "failure_texts.hpp"
#include "protocol/line_framing.hpp"
#include "protocol/text_result.hpp"
#include "request_line.hpp"
#include "response_decoding.hpp"
#include "server_check.hpp"
#include "typed_call.hpp"
#include "win32_shared/bounded_io.hpp"
#include "win32_shared/deadline.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/service_query.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"
#include "win32_shared/win32_result.hpp"

#include <algorithm>
#include <span>
#include <vemlox/client.hpp>
#include <windows.h>

namespace vemlox::client {

namespace {

using win::Deadline;
using win::UniqueHandle;
using win::UniqueServiceHandle;
using win::Win32Result;
using Kind = Error::Kind;

// No response of the service comes near this; a longer stream is not our service talking.
constexpr std::size_t MAX_RESPONSE_BYTES = 1 << 20;
// While the pipe is busy or not yet there, how often a waiting call looks again (and so at most
// how long a stop waits for WaitNamedPipeW, which cannot be interrupted).
constexpr DWORD POLL_MS = 50;

bool stop_requested(HANDLE stop) {
    return WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
}

// What the Service Control Manager says of our service, asked with the least rights there are:
// the default security of a service grants these to interactive and service logons, so a
// standard user's app may ask.
Win32Result<ServiceProcess> query_service_process() {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return win::last_error();
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

std::expected<UniqueHandle, Error> open_pipe(const ClientOptions& options, HANDLE stop) {
    const std::wstring name = win::to_wide(win::PIPE_NAME);
    const Deadline deadline(options.busy_wait);
    while (true) {
        if (stop_requested(stop)) {
            return std::unexpected(failure::cancelled("nothing was sent"));
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
            VEMLOX_ASSIGN_OR_RETURN_MAPPED(failure::service_state_unknown,
                                           const ServiceProcess service, query_service_process());
            if (const auto kind = kind_when_nobody_serves(service.state)) {
                return std::unexpected(failure::nobody_serves(*kind, code));
            }
            if (remaining == 0) {
                return std::unexpected(failure::still_starting(options.busy_wait, code));
            }
            // Started at logon beside the app, the service may not have created its pipe yet.
            static_cast<void>(WaitForSingleObject(stop, std::min(POLL_MS, remaining)));
            continue;
        }
        if (code != ERROR_PIPE_BUSY) {
            return std::unexpected(failure::cannot_open_pipe(code));
        }
        if (remaining == 0) {
            return std::unexpected(failure::stayed_busy(options.busy_wait, code));
        }
        // Returns as soon as the server listens again; a failure (the pipe went away, or the
        // wait ran out) is seen by the next open.
        static_cast<void>(WaitNamedPipeW(name.c_str(), std::min(POLL_MS, remaining)));
    }
}

Win32Result<ULONG> pipe_server_process_id(HANDLE pipe) {
    ULONG process_id = 0;
    if (!GetNamedPipeServerProcessId(pipe, &process_id)) {
        return win::last_error();
    }
    return process_id;
}

// The pipe's server must be the process the Service Control Manager runs as our service. This
// is sound because the service creates the pipe as its first instance, and as its only one: while
// the service runs nobody else can serve the name, and GetNamedPipeServerProcessId reports the
// process that created the first instance. The server's image path proves nothing: a standard
// user may not open a LocalSystem process, a 32-bit app sees another Program Files folder, and
// while the service is stopped any process started from the installed image would pass.
std::expected<void, Error> verify_server(HANDLE pipe) {
    VEMLOX_ASSIGN_OR_RETURN_MAPPED(failure::server_unidentified, const ULONG server_process_id,
                                   pipe_server_process_id(pipe));
    VEMLOX_ASSIGN_OR_RETURN_MAPPED(failure::server_uncheckable, const ServiceProcess service,
                                   query_service_process());
    if (auto found = untrusted_server(server_process_id, service)) {
        return std::unexpected(failure::untrusted_server(std::move(*found)));
    }
    return {};
}

std::expected<void, Error> send_line(HANDLE pipe, HANDLE event, HANDLE stop,
                                     std::string_view request_line, const Deadline& deadline,
                                     const ClientOptions& options) {
    const auto send_failure = [&options](std::uint32_t code) {
        return failure::transfer(code, options.response_timeout, "sending the request failed");
    };
    std::string bytes(request_line);
    bytes += '\n';
    std::string_view rest = bytes;
    while (!rest.empty()) {
        VEMLOX_ASSIGN_OR_RETURN_MAPPED(
            send_failure, const std::uint32_t written,
            win::write_bounded(pipe, event, rest, deadline.remaining_ms(), stop));
        rest.remove_prefix(written);
    }
    return {};
}

std::expected<std::string, Error> receive_line(HANDLE pipe, HANDLE event, HANDLE stop,
                                               const Deadline& deadline,
                                               const ClientOptions& options) {
    DWORD gave_out = ERROR_SUCCESS; // why the pipe gave out, when it did
    auto line = read_line(
        [&](std::span<char> chunk) -> std::size_t {
            const auto got = win::read_bounded(pipe, event, chunk, deadline.remaining_ms(), stop);
            gave_out = got ? ERROR_SUCCESS : got.error();
            return got ? *got : 0;
        },
        MAX_RESPONSE_BYTES);
    if (line) {
        return std::move(*line);
    }
    if (line.error() == LineFailure::TooLong) {
        return std::unexpected(failure::response_too_long(MAX_RESPONSE_BYTES));
    }
    if (gave_out == ERROR_SUCCESS || gave_out == ERROR_BROKEN_PIPE ||
        gave_out == ERROR_PIPE_NOT_CONNECTED) {
        return std::unexpected(failure::closed_without_response(gave_out));
    }
    return std::unexpected(
        failure::transfer(gave_out, options.response_timeout, "reading the response failed"));
}

} // namespace

std::expected<std::string, Error> exchange(std::string_view request_line,
                                           const ClientOptions& options) {
    const UniqueHandle io_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle stop_event(io_event ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr);
    if (!stop_event) {
        return std::unexpected(failure::no_event(GetLastError()));
    }
    // Sets the event the waits also wait on; declared after it, so it is gone before the event.
    const std::stop_callback on_stop(
        options.stop, [event = stop_event.get()] { static_cast<void>(SetEvent(event)); });

    VEMLOX_ASSIGN_OR_RETURN(const UniqueHandle pipe, open_pipe(options, stop_event.get()));
    VEMLOX_RETURN_IF_ERROR(verify_server(pipe.get()));
    if (stop_requested(stop_event.get())) {
        return std::unexpected(failure::cancelled("nothing was sent"));
    }
    const Deadline deadline(options.response_timeout);
    VEMLOX_RETURN_IF_ERROR(
        send_line(pipe.get(), io_event.get(), stop_event.get(), request_line, deadline, options));
    // Leaving by any road closes the pipe, so a response that comes too late goes nowhere.
    return receive_line(pipe.get(), io_event.get(), stop_event.get(), deadline, options);
}

std::expected<OkResponse, Error> read_answer(std::string_view line, const OkPayload& expected) {
    VEMLOX_ASSIGN_OR_RETURN_MAPPED(failure::unreadable_response, Response response,
                                   decode_response(line, expected));
    if (auto* answer = std::get_if<ErrorResponse>(&response)) {
        return std::unexpected(failure::answer(answer->kind, std::move(answer->message)));
    }
    return std::get<OkResponse>(std::move(response));
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
