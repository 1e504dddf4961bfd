#include "setup/start_wait.hpp"

#include "setup/command_outcome.hpp"
#include "win32_shared/os_error_text.hpp"

namespace vemlox::win {

namespace {

constexpr std::string_view START_STEP = "start service";

// A stopped service's exit code says why it stopped, unless it is one of the codes a service that
// never ran (or stopped without saying anything) shows.
std::optional<std::uint32_t> telling_exit_code(const Win32Result<SERVICE_STATUS_PROCESS>& polled) {
    if (!polled || polled->dwCurrentState != SERVICE_STOPPED ||
        polled->dwWin32ExitCode == NO_ERROR ||
        polled->dwWin32ExitCode == ERROR_SERVICE_NEVER_STARTED) {
        return std::nullopt;
    }
    return polled->dwWin32ExitCode;
}

std::string start_failure(std::uint32_t error) {
    return std::string(START_STEP) + ": " + os_error_text(error);
}

std::string stopped_failure(const Win32Result<SERVICE_STATUS_PROCESS>& polled) {
    const auto code = telling_exit_code(polled);
    return code ? start_failure(*code) : scm_failure(START_STEP);
}

} // namespace

std::optional<TextResult<void>>
start_poll_outcome(const Win32Result<SERVICE_STATUS_PROCESS>& polled, bool is_last_poll) {
    if (!polled) {
        return std::unexpected(scm_failure(START_STEP));
    }
    switch (polled->dwCurrentState) {
    case SERVICE_RUNNING:
        return TextResult<void>{};
    case SERVICE_STOPPED:
        return std::unexpected(stopped_failure(polled));
    default:
        if (is_last_poll) {
            return std::unexpected(start_failure(ERROR_SERVICE_REQUEST_TIMEOUT));
        }
        return std::nullopt;
    }
}

std::optional<std::string>
refused_start_failure(std::uint32_t start_error, const Win32Result<SERVICE_STATUS_PROCESS>& before,
                      const Win32Result<SERVICE_STATUS_PROCESS>& polled) {
    if (start_error == ERROR_SERVICE_ALREADY_RUNNING) {
        return std::nullopt;
    }
    auto code =
        start_error == ERROR_SERVICE_REQUEST_TIMEOUT ? telling_exit_code(polled) : std::nullopt;
    if (code && (!before || before->dwWin32ExitCode == *code)) {
        code.reset(); // possibly the last run's
    }
    return start_failure(code.value_or(start_error));
}

} // namespace vemlox::win
