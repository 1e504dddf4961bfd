#include "vemlox_client.hpp"

#include "request_line.hpp"
#include "response_decoding.hpp"
#include "server_check.hpp"
#include "win/install_dir.hpp"
#include "win/names.hpp"
#include "win/os_error_text.hpp"
#include "win/unique_handle.hpp"
#include "win/wide.hpp"

#include <algorithm>
#include <array>
#include <windows.h>

namespace vemlox::client {

namespace {

using win::UniqueFile;
using win::UniqueHandle;

// No response of the service comes near this; a longer stream is not our service talking.
constexpr std::size_t MAX_RESPONSE_BYTES = 1 << 20;

ClientError error(ClientError::Kind kind, std::string message) {
    return ClientError{kind, std::move(message)};
}

std::string pipe_name() {
    return std::string(win::PIPE_NAME);
}

std::expected<UniqueFile, ClientError> open_pipe(const ClientOptions& options) {
    const std::wstring name = win::to_wide(win::PIPE_NAME);
    const ULONGLONG wait_ms =
        static_cast<ULONGLONG>(std::max<long long>(options.busy_wait.count(), 0));
    const ULONGLONG deadline = GetTickCount64() + wait_ms;
    while (true) {
        // Identification level only: a server that is not ours must not be able to act as us.
        UniqueFile pipe(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                    nullptr));
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
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return std::unexpected(
                error(ClientError::Kind::ServiceBusy, "the Vemlox service stayed busy for " +
                                                          std::to_string(wait_ms / 1000) +
                                                          " s; try again later"));
        }
        // Returns as soon as the server listens again; a failure (the pipe went away, or the
        // wait ran out) is seen by the next open.
        (void)WaitNamedPipeW(name.c_str(),
                             static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 0xFFFFFFFEu)));
    }
}

// The pipe's server must be the installed service executable, checked by its image path as the
// service checks its own callers.
std::expected<void, ClientError> verify_server(HANDLE pipe) {
    auto untrusted = [](std::string message) {
        return std::unexpected(error(ClientError::Kind::UntrustedServer, std::move(message)));
    };
    ULONG pid = 0;
    if (!GetNamedPipeServerProcessId(pipe, &pid)) {
        return untrusted("cannot identify the process serving " + pipe_name() + ": " +
                         win::os_error_text(GetLastError()));
    }
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
        return untrusted("cannot inspect the process serving " + pipe_name() + " (pid " +
                         std::to_string(pid) + "): " + win::os_error_text(GetLastError()));
    }
    std::array<wchar_t, 1024> buffer{};
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!QueryFullProcessImageNameW(process.get(), 0, buffer.data(), &size)) {
        return untrusted("cannot read the executable serving " + pipe_name() + " (pid " +
                         std::to_string(pid) + "): " + win::os_error_text(GetLastError()));
    }
    const std::string image = win::to_utf8(std::wstring_view(buffer.data(), size));
    // The same folder the installer copies the service into.
    const std::expected<std::wstring, std::string> folder = win::install_dir();
    if (!folder) {
        return untrusted("cannot tell where the service is installed: " + folder.error());
    }
    const std::string install_folder = win::to_utf8(*folder);
    if (!server_image_allowed(image, install_folder)) {
        return untrusted(pipe_name() + " is served by " + image + ", not by " +
                         std::string(win::SERVICE_EXE_NAME) + " in " + install_folder +
                         "; nothing was sent");
    }
    return {};
}

std::expected<void, ClientError> send_line(HANDLE pipe, std::string_view request_line) {
    std::string bytes(request_line);
    bytes += '\n';
    std::string_view rest = bytes;
    while (!rest.empty()) {
        DWORD written = 0;
        if (!WriteFile(pipe, rest.data(),
                       static_cast<DWORD>(std::min<std::size_t>(rest.size(), 65536)), &written,
                       nullptr)) {
            return std::unexpected(
                error(ClientError::Kind::SendFailed,
                      "sending the request failed: " + win::os_error_text(GetLastError())));
        }
        rest.remove_prefix(written);
    }
    return {};
}

std::expected<std::string, ClientError> receive_line(HANDLE pipe) {
    std::string received;
    std::array<char, 1024> chunk{};
    while (true) {
        DWORD got = 0;
        const bool read =
            ReadFile(pipe, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) != FALSE;
        const DWORD code = read ? ERROR_SUCCESS : GetLastError();
        if (!read && code != ERROR_BROKEN_PIPE && code != ERROR_PIPE_NOT_CONNECTED) {
            return std::unexpected(
                error(ClientError::Kind::ReceiveFailed,
                      "reading the response failed: " + win::os_error_text(code)));
        }
        if (got == 0) {
            return std::unexpected(error(ClientError::Kind::ReceiveFailed,
                                         "the service closed the connection without a "
                                         "complete response"));
        }
        const std::size_t searched_from = received.size();
        received.append(chunk.data(), got);
        const std::size_t end = received.find('\n', searched_from);
        if (end != std::string::npos) {
            received.resize(end);
            return received;
        }
        if (received.size() > MAX_RESPONSE_BYTES) {
            return std::unexpected(
                error(ClientError::Kind::BadResponse,
                      "the response exceeds " + std::to_string(MAX_RESPONSE_BYTES) + " bytes"));
        }
    }
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
    if (auto sent = send_line(pipe->get(), request_line); !sent) {
        return std::unexpected(sent.error());
    }
    return receive_line(pipe->get());
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
