#include "vemlox_client.hpp"

#include "protocol/line_framing.hpp"
#include "request_line.hpp"
#include "response_decoding.hpp"
#include "server_check.hpp"
#include "win32_shared/bounded_io.hpp"
#include "win32_shared/deadline.hpp"
#include "win32_shared/os_error_text.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <algorithm>
#include <span>
#include <windows.h>

namespace vemlox::client {

namespace {

using win::Deadline;
using win::UniqueFile;
using win::UniqueHandle;
using win::UniqueServiceHandle;

// No response of the service comes near this; a longer stream is not our service talking.
constexpr std::size_t MAX_RESPONSE_BYTES = 1 << 20;

ClientError error(ClientError::Kind kind, std::string message) {
    return ClientError{kind, std::move(message)};
}

std::string pipe_name() {
    return std::string(win::PIPE_NAME);
}

std::string duration_text(std::chrono::milliseconds span) {
    const long long ms = std::max<long long>(span.count(), 0);
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::expected<UniqueFile, ClientError> open_pipe(const ClientOptions& options) {
    const std::wstring name = win::to_wide(win::PIPE_NAME);
    const Deadline deadline(options.busy_wait);
    while (true) {
        // Identification level only: a server that is not ours must not be able to act as us.
        // Overlapped, so that the wait for the response can end at its timeout.
        UniqueFile pipe(CreateFileW(
            name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        if (pipe) {
            return pipe;
        }
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) {
            return std::unexpected(
                error(ClientError::Kind::ServiceNotRunning,
                      "the Vemlox service is not running (nothing serves " + pipe_name() + ")"));
        }
        if (code != ERROR_PIPE_BUSY) {
            return std::unexpected(
                error(ClientError::Kind::ConnectFailed,
                      "cannot open " + pipe_name() + ": " + win::os_error_text(code)));
        }
        const DWORD remaining = deadline.remaining_ms();
        if (remaining == 0) {
            return std::unexpected(
                error(ClientError::Kind::ServiceBusy, "the Vemlox service stayed busy for " +
                                                          duration_text(options.busy_wait) +
                                                          "; try again later"));
        }
        // Returns as soon as the server listens again; a failure (the pipe went away, or the
        // wait ran out) is seen by the next open.
        (void)WaitNamedPipeW(name.c_str(), remaining);
    }
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
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                             reinterpret_cast<LPBYTE>(&status), sizeof(status), &needed) == 0) {
        return std::unexpected(GetLastError());
    }
    if (status.dwCurrentState != SERVICE_RUNNING) {
        return ServiceProcess{ServiceProcess::State::NotRunning, 0};
    }
    return ServiceProcess{ServiceProcess::State::Running, status.dwProcessId};
}

// The pipe's server must be the process the Service Control Manager runs as our service. This
// is sound because the service creates the pipe as its first instance, and as its only one: while
// the service runs nobody else can serve the name, and GetNamedPipeServerProcessId reports the
// process that created the first instance. The server's image path proves nothing: a standard
// user may not open a LocalSystem process, a 32-bit app sees another Program Files folder, and
// while the service is stopped any process started from the installed image would pass.
std::expected<void, ClientError> verify_server(HANDLE pipe) {
    auto untrusted = [](std::string message) {
        return std::unexpected(error(ClientError::Kind::UntrustedServer, std::move(message)));
    };
    ULONG server_process_id = 0;
    if (!GetNamedPipeServerProcessId(pipe, &server_process_id)) {
        return untrusted("cannot identify the process serving " + pipe_name() + ": " +
                         win::os_error_text(GetLastError()) + "; nothing was sent");
    }
    const std::expected<ServiceProcess, DWORD> service = query_service_process();
    if (!service && service.error() == ERROR_ACCESS_DENIED) {
        return untrusted("this session may not ask the Service Control Manager about the Vemlox "
                         "service (only interactive and service logons may), so the process "
                         "serving " +
                         pipe_name() + " cannot be checked; nothing was sent");
    }
    if (!service) {
        return untrusted("cannot ask the Service Control Manager about the Vemlox service: " +
                         win::os_error_text(service.error()) + "; nothing was sent");
    }
    if (auto found = untrusted_server(server_process_id, *service)) {
        return untrusted(std::move(*found));
    }
    return {};
}

ClientError timed_out(const ClientOptions& options) {
    return error(ClientError::Kind::TimedOut, "no response from the Vemlox service within " +
                                                  duration_text(options.response_timeout) +
                                                  "; the connection was closed");
}

std::expected<void, ClientError> send_line(HANDLE pipe, HANDLE event, std::string_view request_line,
                                           const Deadline& deadline, const ClientOptions& options) {
    std::string bytes(request_line);
    bytes += '\n';
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const auto written = win::write_bounded(pipe, event, rest, deadline.remaining_ms());
        if (!written && written.error() == WAIT_TIMEOUT) {
            return std::unexpected(timed_out(options));
        }
        if (!written) {
            return std::unexpected(
                error(ClientError::Kind::SendFailed,
                      "sending the request failed: " + win::os_error_text(written.error())));
        }
        rest.remove_prefix(*written);
    }
    return {};
}

std::expected<std::string, ClientError>
receive_line(HANDLE pipe, HANDLE event, const Deadline& deadline, const ClientOptions& options) {
    DWORD failure = ERROR_SUCCESS; // why the pipe gave out, when it did
    auto line = read_line(
        [&](std::span<char> chunk) -> std::size_t {
            const auto got = win::read_bounded(pipe, event, chunk, deadline.remaining_ms());
            failure = got ? ERROR_SUCCESS : got.error();
            return got ? *got : 0;
        },
        MAX_RESPONSE_BYTES);
    if (line) {
        return std::move(*line);
    }
    if (line.error() == LineFailure::TooLong) {
        return std::unexpected(
            error(ClientError::Kind::BadResponse,
                  "the response exceeds " + std::to_string(MAX_RESPONSE_BYTES) + " bytes"));
    }
    if (failure == WAIT_TIMEOUT) {
        return std::unexpected(timed_out(options));
    }
    if (failure != ERROR_SUCCESS && failure != ERROR_BROKEN_PIPE &&
        failure != ERROR_PIPE_NOT_CONNECTED) {
        return std::unexpected(
            error(ClientError::Kind::ReceiveFailed,
                  "reading the response failed: " + win::os_error_text(failure)));
    }
    return std::unexpected(error(ClientError::Kind::ReceiveFailed,
                                 "the service closed the connection without a complete response"));
}

} // namespace

std::expected<std::string, ClientError> exchange(std::string_view request_line,
                                                 const ClientOptions& options) {
    std::expected<UniqueFile, ClientError> pipe = open_pipe(options);
    if (!pipe) {
        return std::unexpected(pipe.error());
    }
    if (auto verified = verify_server(pipe->get()); !verified) {
        return std::unexpected(verified.error());
    }
    const Deadline deadline(options.response_timeout);
    const UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        return std::unexpected(
            error(ClientError::Kind::SendFailed,
                  "sending the request failed: " + win::os_error_text(GetLastError())));
    }
    if (auto sent = send_line(pipe->get(), event.get(), request_line, deadline, options); !sent) {
        return std::unexpected(sent.error());
    }
    // Leaving by any road closes the pipe, so a response that comes too late goes nowhere.
    return receive_line(pipe->get(), event.get(), deadline, options);
}

std::expected<Response, ClientError> call(const Request& request, const ClientOptions& options) {
    std::expected<std::string, ClientError> line = exchange(encode_request(request), options);
    if (!line) {
        return std::unexpected(line.error());
    }
    std::expected<Response, std::string> response = decode_response(*line);
    if (!response) {
        return std::unexpected(error(ClientError::Kind::BadResponse,
                                     "unreadable response from the service: " + response.error()));
    }
    return std::move(*response);
}

} // namespace vemlox::client
