#include "service_runtime/service_host.hpp"

#include "machine/machine.hpp"
#include "service_runtime/pipe_server.hpp"
#include "service_runtime/service_log.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <cstdint>
#include <string>

namespace vemlox::win {

namespace {

// The control handler may run on the dispatcher's thread at any moment while the service runs,
// even as the service entry returns, so what it acts on lives as long as the process.
ServiceControls& process_controls() {
    static ServiceControls controls;
    return controls;
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
    ServiceControls& controls = process_controls();

    const SERVICE_STATUS_HANDLE status_handle =
        RegisterServiceCtrlHandlerExW(to_wide(SERVICE_NAME).c_str(), &control_handler, &controls);
    if (status_handle == nullptr) {
        append_log(log_folder, service_error(SCM_ERROR_TEXT));
        return;
    }
    // From here on every return is preceded by the stopped report: without it the Service Control
    // Manager would show the service starting, or running, long after it has gone.
    controls.status.attach([status_handle](SERVICE_STATUS& status) {
        return SetServiceStatus(status_handle, &status) != 0;
    });

    // A log left by an earlier version, or made while the folder let users in, is closed to them:
    // a user who can open it can hold it, or stall our every open of it. That work touches files
    // a user may hold, so it starts only once the control handler is there, on a thread of its own
    // that nothing waits for.
    protect_log_files_in_background(log_folder);

    // The service is reported running only once its pipe is there to serve, so that a start that
    // cannot serve (the name taken by another process, say) is seen to fail, not to succeed.
    enum class Running { NotYet, Reported, Refused };
    Running running = Running::NotYet;
    std::uint32_t refusal = NO_ERROR;
    const auto start_serving = [&] {
        const auto reported = controls.status.report_running();
        if (!reported) {
            running = Running::Refused;
            refusal = reported.error();
            return false;
        }
        running = Running::Reported;
        append_log(log_folder, "started");
        return true;
    };
    std::expected<void, PipeSetupError> served;
    {
        Machine machine(log_folder);
        served = serve_pipe(log_folder, to_utf8(*own_path), controls.stop, machine.access(),
                            PipeServerSettings{}, start_serving);
    }
    // The dispatcher lets the process end as soon as the stopped report is made, so every line is
    // written before it.
    if (running == Running::Refused) {
        append_log(log_folder, service_error(SCM_ERROR_TEXT));
        // Whatever the refusal said, the stop must not read as a clean one.
        controls.status.report_stopped(refusal != NO_ERROR ? refusal : ERROR_INVALID_DATA);
        return;
    }
    // A failed setup logs "started" all the same: the log tells the start, the stop, the reason.
    if (running == Running::NotYet) {
        append_log(log_folder, "started");
    }
    append_log(log_folder, "stopped");
    if (!served) {
        append_log(log_folder, service_error(served.error().text()));
    }
    // A nonzero exit code tells the Service Control Manager that the service failed: the
    // installer reports it, and the recovery settings restart the service.
    controls.status.report_stopped(served ? NO_ERROR : served.error().code);
}

DWORD WINAPI control_handler(DWORD control, DWORD, LPVOID, LPVOID context) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN: {
        auto& controls = *static_cast<ServiceControls*>(context);
        // A service must react to a stop as it arrives; the serving loop itself ends only once
        // the request in progress has been answered, which may take minutes.
        controls.status.report_stop_pending();
        controls.stop.request_stop();
        if (controls.stop.event() == nullptr) {
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
