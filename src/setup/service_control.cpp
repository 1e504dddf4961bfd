#include "setup/service_control.hpp"

#include "setup/command_outcome.hpp"
#include "setup/service_status.hpp"
#include "setup/start_wait.hpp"
#include "win32_shared/deadline.hpp"
#include "win32_shared/os_error_text.hpp"
#include "win32_shared/service_query.hpp"
#include "win32_shared/unique_handle.hpp"

namespace vemlox::win {

namespace {

constexpr std::string_view STOP_STEP = "stop service";

// Whether the stop request has reached the service. One that is still starting refuses it
// (ERROR_SERVICE_CANNOT_ACCEPT_CTRL), and so does one that is stopping already; one that is not
// running needs none.
[[nodiscard]] std::expected<bool, StopFailure> request_stop(SC_HANDLE service) {
    SERVICE_STATUS ignored{};
    if (ControlService(service, SERVICE_CONTROL_STOP, &ignored) != 0) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL || error == ERROR_SERVICE_NOT_ACTIVE) {
        return false;
    }
    return std::unexpected(StopFailure::Refused);
}

} // namespace

std::string stop_failure_text(StopFailure failure) {
    return failure == StopFailure::TimedOut
               ? std::string(STOP_STEP) + ": " + os_error_text(ERROR_SERVICE_REQUEST_TIMEOUT)
               : scm_failure(STOP_STEP);
}

std::expected<void, StopFailure> stop_and_wait(SC_HANDLE service) {
    const Deadline deadline(MAX_STOP_WAIT);
    UniqueHandle process;
    bool stop_requested = false;
    PollPause pause;
    while (true) {
        const auto status = query_service_status(service);
        if (!status) {
            return std::unexpected(StopFailure::Refused);
        }
        // A service that is still starting may have no process yet: whichever poll first names
        // one opens it.
        if (!process) {
            process = open_service_process(*status);
        }
        if (status->dwCurrentState == SERVICE_STOPPED) {
            break;
        }
        if (!stop_requested) {
            VEMLOX_ASSIGN_OR_RETURN(stop_requested, request_stop(service));
        }
        if (deadline.remaining_ms() == 0) {
            return std::unexpected(StopFailure::TimedOut);
        }
        pause.wait();
    }
    // Windows may end a service's process some time after it has reported stopped, and until
    // then its executable is in use and its pipe may still be open.
    if (process && WaitForSingleObject(process.get(), deadline.remaining_ms()) != WAIT_OBJECT_0) {
        return std::unexpected(StopFailure::TimedOut);
    }
    return {};
}

TextResult<void> start_and_wait(SC_HANDLE service) {
    const auto before = query_service_status(service);
    if (StartServiceW(service, 0, nullptr) == 0) {
        const DWORD error = GetLastError();
        if (auto failure = refused_start_failure(error, before, query_service_status(service))) {
            return std::unexpected(std::move(*failure));
        }
    }
    PollPause pause;
    for (int poll = 1;; ++poll) {
        if (auto outcome =
                start_poll_outcome(query_service_status(service), poll == MAX_START_POLLS)) {
            return *outcome;
        }
        pause.wait();
    }
}

void start_again(SC_HANDLE service) {
    static_cast<void>(StartServiceW(service, 0, nullptr));
}

} // namespace vemlox::win
