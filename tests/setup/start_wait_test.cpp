#include "setup/start_wait.hpp"
#include "win32_shared/os_error_text.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace vemlox::win {
namespace {

constexpr const char* SCM_FAILED = "start service: IO error in winapi call";
constexpr std::uint32_t PIPE_BUSY = 231;
constexpr std::uint32_t QUERY_REFUSED = 5;

Win32Result<SERVICE_STATUS_PROCESS> status(DWORD state, DWORD exit_code = NO_ERROR) {
    SERVICE_STATUS_PROCESS polled{};
    polled.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    polled.dwCurrentState = state;
    polled.dwWin32ExitCode = exit_code;
    return polled;
}

std::string failed_with(std::uint32_t code) {
    return "start service: " + os_error_text(code);
}

// What one poll decides: nullopt to poll again, "" for started, or the failure message.
std::optional<std::string> decided(const std::optional<TextResult<void>>& outcome) {
    if (!outcome) {
        return std::nullopt;
    }
    return *outcome ? std::string() : outcome->error();
}

struct PollCase {
    const char* name;
    Win32Result<SERVICE_STATUS_PROCESS> polled;
    bool is_last_poll;
    std::optional<std::string> expected;
};

TEST(StartWait, WaitsForRunningAndNamesWhyAStartFailed) {
    const PollCase cases[] = {
        {"still starting", status(SERVICE_START_PENDING), false, std::nullopt},
        {"running", status(SERVICE_RUNNING), false, ""},
        {"running at the last poll", status(SERVICE_RUNNING), true, ""},
        {"stopped with its reason", status(SERVICE_STOPPED, PIPE_BUSY), false,
         failed_with(PIPE_BUSY)},
        {"stopped without a reason", status(SERVICE_STOPPED), false, SCM_FAILED},
        {"stopped, never ran", status(SERVICE_STOPPED, ERROR_SERVICE_NEVER_STARTED), false,
         SCM_FAILED},
        {"stopping on its way down", status(SERVICE_STOP_PENDING), false, std::nullopt},
        {"still starting at the last poll", status(SERVICE_START_PENDING), true,
         failed_with(ERROR_SERVICE_REQUEST_TIMEOUT)},
        {"status unreadable", std::unexpected(QUERY_REFUSED), false, SCM_FAILED},
    };
    for (const PollCase& each : cases) {
        EXPECT_EQ(decided(start_poll_outcome(each.polled, each.is_last_poll)), each.expected)
            << each.name;
    }
}

struct RefusalCase {
    const char* name;
    std::uint32_t start_error;
    Win32Result<SERVICE_STATUS_PROCESS> before;
    Win32Result<SERVICE_STATUS_PROCESS> polled;
    std::optional<std::string> expected;
};

// The manager keeps a stopped service's exit code until the next start, so a start refused before
// the service's process ran still shows the last run's code: Windows' own error is the reason.
TEST(StartWait, ARefusedStartReportsWhyWindowsRefusedItNotTheLastRunsExitCode) {
    const auto last_run = status(SERVICE_STOPPED, PIPE_BUSY);
    const auto clean_stop = status(SERVICE_STOPPED);
    const RefusalCase cases[] = {
        {"already running", ERROR_SERVICE_ALREADY_RUNNING, clean_stop, status(SERVICE_RUNNING),
         std::nullopt},
        {"executable missing, last run's code kept", ERROR_FILE_NOT_FOUND, last_run, last_run,
         failed_with(ERROR_FILE_NOT_FOUND)},
        {"executable missing, a code that looks new", ERROR_FILE_NOT_FOUND, clean_stop, last_run,
         failed_with(ERROR_FILE_NOT_FOUND)},
        {"not a valid image", ERROR_BAD_EXE_FORMAT, clean_stop, clean_stop,
         failed_with(ERROR_BAD_EXE_FORMAT)},
        {"disabled, last run's code kept", ERROR_SERVICE_DISABLED, last_run, last_run,
         failed_with(ERROR_SERVICE_DISABLED)},
        {"logon failure", ERROR_SERVICE_LOGON_FAILED,
         status(SERVICE_STOPPED, ERROR_SERVICE_NEVER_STARTED),
         status(SERVICE_STOPPED, ERROR_SERVICE_NEVER_STARTED),
         failed_with(ERROR_SERVICE_LOGON_FAILED)},
        {"database locked, status unreadable", ERROR_SERVICE_DATABASE_LOCKED,
         std::unexpected(QUERY_REFUSED), std::unexpected(QUERY_REFUSED),
         failed_with(ERROR_SERVICE_DATABASE_LOCKED)},
        // A manager that waits for the start itself refuses it once this start's process stopped.
        {"stopped with a code of this start", ERROR_SERVICE_REQUEST_TIMEOUT, clean_stop, last_run,
         failed_with(PIPE_BUSY)},
        {"never connected, last run's code kept", ERROR_SERVICE_REQUEST_TIMEOUT, last_run, last_run,
         failed_with(ERROR_SERVICE_REQUEST_TIMEOUT)},
        {"code before the start unknown", ERROR_SERVICE_REQUEST_TIMEOUT,
         std::unexpected(QUERY_REFUSED), last_run, failed_with(ERROR_SERVICE_REQUEST_TIMEOUT)},
        {"process ended without a code", ERROR_SERVICE_REQUEST_TIMEOUT, last_run, clean_stop,
         failed_with(ERROR_SERVICE_REQUEST_TIMEOUT)},
        {"never ran", ERROR_SERVICE_REQUEST_TIMEOUT, clean_stop,
         status(SERVICE_STOPPED, ERROR_SERVICE_NEVER_STARTED),
         failed_with(ERROR_SERVICE_REQUEST_TIMEOUT)},
        {"still pending when the manager gave up", ERROR_SERVICE_REQUEST_TIMEOUT, clean_stop,
         status(SERVICE_START_PENDING, PIPE_BUSY), failed_with(ERROR_SERVICE_REQUEST_TIMEOUT)},
        {"timed out, status unreadable", ERROR_SERVICE_REQUEST_TIMEOUT, clean_stop,
         std::unexpected(QUERY_REFUSED), failed_with(ERROR_SERVICE_REQUEST_TIMEOUT)},
    };
    for (const RefusalCase& each : cases) {
        EXPECT_EQ(refused_start_failure(each.start_error, each.before, each.polled), each.expected)
            << each.name;
    }
}

} // namespace
} // namespace vemlox::win
