#include "service_runtime/pipe_server.hpp"

#include "actions/dispatcher.hpp"
#include "protocol/line_framing.hpp"
#include "protocol/response.hpp"
#include "service_runtime/bounded_flush.hpp"
#include "service_runtime/caller_check.hpp"
#include "service_runtime/service_log.hpp"
#include "service_runtime/stop_signal.hpp"
#include "win32_shared/bounded_io.hpp"
#include "win32_shared/deadline.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <sddl.h>
#include <utility>
#include <windows.h>

namespace vemlox::win {

namespace {

// LocalSystem and Administrators may do anything; any authenticated local user may connect.
// Which program is on the other end is checked per connection.
constexpr wchar_t PIPE_SDDL[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGW;;;AU)";
// First instance only, so that a process which took the name before us cannot share it with us.
// Overlapped, so that waiting for a client ends at once on a stop and waiting for a slow client
// ends at its deadline.
constexpr DWORD PIPE_OPEN_MODE =
    PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED;
constexpr DWORD PIPE_MODE =
    PIPE_REJECT_REMOTE_CLIENTS | PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT;
constexpr DWORD PIPE_INSTANCES = 1;
constexpr DWORD PIPE_BUFFER_BYTES = 16384;
constexpr DWORD CALLER_PATH_UNITS = 1024;

// Waits for a client or for the stop event, whichever comes first. True when a client is
// connected (also when it connected in the moment the stop came).
bool wait_for_client(HANDLE pipe, HANDLE io_event, HANDLE stop_event) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = io_event;
    if (ConnectNamedPipe(pipe, &overlapped) != 0) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) {
        return true;
    }
    if (error != ERROR_IO_PENDING) {
        return false;
    }
    const std::array<HANDLE, 2> waits{io_event, stop_event};
    const DWORD count = stop_event != nullptr ? 2 : 1;
    if (WaitForMultipleObjects(count, waits.data(), FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIoEx(pipe, &overlapped);
    }
    DWORD unused = 0;
    return GetOverlappedResult(pipe, &overlapped, &unused, TRUE) != 0;
}

// The client's executable as a UTF-8 Win32 path; empty when it cannot be found out.
std::string client_executable_path(HANDLE pipe) {
    ULONG process_id = 0;
    if (GetNamedPipeClientProcessId(pipe, &process_id) == 0) {
        return {};
    }
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (!process) {
        return {};
    }
    std::array<wchar_t, CALLER_PATH_UNITS> buffer{};
    DWORD size = CALLER_PATH_UNITS;
    if (QueryFullProcessImageNameW(process.get(), 0, buffer.data(), &size) == 0) {
        return {};
    }
    return to_utf8(std::wstring_view(buffer.data(), std::min<DWORD>(size, CALLER_PATH_UNITS)));
}

// The response line in one write. Whether it arrives is not looked at: a client that went away
// simply gets nothing, and one that does not read is dealt with by the flush's deadline.
void write_response(HANDLE pipe, HANDLE io_event, const Response& response, DWORD timeout_ms) {
    const std::string line = encode_response(response);
    static_cast<void>(write_bounded(pipe, io_event, line, timeout_ms));
}

class Server {
  public:
    Server(const std::wstring& log_folder, std::string_view own_executable_path,
           const MachineAccess& machine, const PipeServerSettings& settings, HANDLE pipe,
           HANDLE io_event, BoundedFlush& flush)
        : log_folder_(log_folder), own_executable_path_(own_executable_path), machine_(machine),
          settings_(settings), pipe_(pipe), io_event_(io_event), flush_(flush) {}

    // One connection: exactly one log line, then exactly one response.
    void serve_connection() {
        const Deadline request_deadline(settings_.request_deadline);
        const Outcome outcome = handle_connection(request_deadline);
        append_log(log_folder_, outcome.log_message);
        respond(outcome.response);
    }

  private:
    Outcome handle_connection(const Deadline& request_deadline) {
        const std::string caller = client_executable_path(pipe_);
        if (!caller_allowed(caller, own_executable_path_)) {
            return reject_caller(caller);
        }
        const std::optional<std::string> line =
            read_request_line([this, &request_deadline](std::span<char> chunk) {
                return read_chunk(chunk, request_deadline);
            });
        if (!line) {
            return reject_incomplete_request();
        }
        return handle_request(*line, machine_);
    }

    std::size_t read_chunk(std::span<char> chunk, const Deadline& deadline) {
        return read_bounded(pipe_, io_event_, chunk, deadline.remaining_ms()).value_or(0);
    }

    // The client's time to take the response starts when it is written.
    void respond(const Response& response) {
        const Deadline deadline(settings_.response_deadline);
        write_response(pipe_, io_event_, response, deadline.remaining_ms());
        static_cast<void>(flush_.flush(pipe_, deadline.remaining_ms()));
    }

    const std::wstring& log_folder_;
    std::string_view own_executable_path_;
    const MachineAccess& machine_;
    const PipeServerSettings& settings_;
    HANDLE pipe_;
    HANDLE io_event_;
    BoundedFlush& flush_;
};

std::unexpected<PipeSetupError> setup_error(std::string_view step, DWORD code) {
    return std::unexpected(PipeSetupError{step, code});
}

} // namespace

std::string PipeSetupError::text() const {
    return std::string(step) + ": " + std::to_string(code);
}

std::expected<void, PipeSetupError> serve_pipe(const std::wstring& log_folder,
                                               std::string_view own_executable_path,
                                               const StopSignal& stop, const MachineAccess& machine,
                                               const PipeServerSettings& settings,
                                               const OnServing& on_serving) {
    UniqueLocalMemory descriptor;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(PIPE_SDDL, SDDL_REVISION_1,
                                                             descriptor.put(), nullptr) == 0) {
        return setup_error("security descriptor", GetLastError());
    }
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    UniqueHandle pipe(CreateNamedPipeW(settings.pipe_name.c_str(), PIPE_OPEN_MODE, PIPE_MODE,
                                       PIPE_INSTANCES, PIPE_BUFFER_BYTES, PIPE_BUFFER_BYTES, 0,
                                       &attributes));
    const DWORD create_error = GetLastError();
    descriptor.reset();
    if (!pipe) {
        return setup_error("create pipe", create_error);
    }
    const UniqueHandle io_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!io_event) {
        return setup_error("create event", GetLastError());
    }
    BoundedFlush flush;
    if (!flush.is_ready()) {
        return setup_error("flush timer", flush.error());
    }

    if (on_serving && !on_serving()) {
        return {};
    }
    Server server(log_folder, own_executable_path, machine, settings, pipe.get(), io_event.get(),
                  flush);
    // The flag is read before the first wait, after every wait and after every disconnect; the
    // stop event ends a wait at once, and a stop during a request takes effect once it has been
    // answered, flushed and disconnected.
    while (!stop.is_stopping()) {
        const bool connected = wait_for_client(pipe.get(), io_event.get(), stop.event());
        if (connected && !stop.is_stopping()) {
            server.serve_connection();
        }
        DisconnectNamedPipe(pipe.get());
    }
    return {};
}

} // namespace vemlox::win
