#include "service_runtime/service_host.hpp"

#include "machine/machine.hpp"
#include "service_runtime/pipe_server.hpp"
#include "service_runtime/service_log.hpp"
#include "service_runtime/stop_signal.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <string>

namespace vemlox::win {

namespace {

constexpr DWORD ACCEPTS_STOP_AND_SHUTDOWN = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;

bool report_running(SERVICE_STATUS_HANDLE status_handle) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_RUNNING;
    status.dwControlsAccepted = ACCEPTS_STOP_AND_SHUTDOWN;
    return SetServiceStatus(status_handle, &status) != 0;
}

// A nonzero `exit_code` tells the Service Control Manager that the service failed: the installer
// reports it, and the recovery settings restart the service.
void report_stopped(SERVICE_STATUS_HANDLE status_handle, DWORD exit_code) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwWin32ExitCode = exit_code;
    static_cast<void>(SetServiceStatus(status_handle, &status));
}

// The control handler may run on the dispatcher's thread at any moment while the service runs,
// even as the service entry returns, so the stop signal lives as long as the process.
StopSignal& process_stop_signal() {
    static StopSignal signal;
    return signal;
}

// Without a stop event the pipe server only notices the stop after its wait for a client ends, so
// the handler ends that wait by connecting once. With the event this is not needed, and not done:
// while the service is stopped the name may belong to any process.
void wake_pipe_server() {
    // Identification only: whoever holds the name by then must never act as LocalSystem.
    const UniqueHandle client(
        CreateFileW(to_wide(PIPE_NAME).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
}

std::string service_error(std::string_view text) {
    return "service error: " + std::string(text);
}

} // namespace

void WINAPI service_entry(DWORD, LPWSTR*) {
    const auto own_path = running_executable_path();
    if (!own_path) {
        return;
    }
    const std::wstring log_folder = parent_folder(*own_path);
    StopSignal& stop = process_stop_signal();

    const SERVICE_STATUS_HANDLE status_handle =
        RegisterServiceCtrlHandlerExW(to_wide(SERVICE_NAME).c_str(), &control_handler, &stop);
    if (status_handle == nullptr) {
        append_log(log_folder, service_error(SCM_ERROR_TEXT));
        return;
    }

    // A log left by an earlier version, or made while the folder let users in, is closed to them:
    // a user who can open it can hold it, or stall our every open of it. That work touches files
    // a user may hold, so it starts only once the control handler is there, on a thread of its own
    // that nothing waits for.
    protect_log_files_in_background(log_folder);

    // The service is reported running only once its pipe is there to serve, so that a start that
    // cannot serve (the name taken by another process, say) is seen to fail, not to succeed.
    enum class Running { NotYet, Reported, Refused };
    Running running = Running::NotYet;
    const auto start_serving = [&] {
        if (!report_running(status_handle)) {
            running = Running::Refused;
            return false;
        }
        running = Running::Reported;
        append_log(log_folder, "started");
        return true;
    };
    std::expected<void, PipeSetupError> served;
    {
        Machine machine(log_folder);
        served = serve_pipe(log_folder, to_utf8(*own_path), stop, machine.access(),
                            PipeServerSettings{}, start_serving);
    }
    if (running == Running::Refused) {
        append_log(log_folder, service_error(SCM_ERROR_TEXT));
        return;
    }
    // A failed setup logs "started" all the same: the log tells the start, the stop, the reason.
    if (running == Running::NotYet) {
        append_log(log_folder, "started");
    }

    // The dispatcher lets the process end as soon as the stopped report is made, so every line,
    // the setup error included, is written before it.
    append_log(log_folder, "stopped");
    if (!served) {
        append_log(log_folder, service_error(served.error().text()));
    }
    report_stopped(status_handle, served ? NO_ERROR : served.error().code);
}

DWORD WINAPI control_handler(DWORD control, DWORD, LPVOID, LPVOID context) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN: {
        auto& stop = *static_cast<StopSignal*>(context);
        stop.request_stop();
        if (stop.event() == nullptr) {
            wake_pipe_server();
        }
        return NO_ERROR;
    }
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

} // namespace vemlox::win
