// What the installer makes of a service it has just asked to start: the decisions of the wait,
// apart from the Service Control Manager calls, so that every case can be tried.
#pragma once

#include "protocol/text_result.hpp"
#include "win32_shared/win32_result.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <windows.h>

namespace vemlox::win {

// How long the installer waits for a start that was accepted: 30 s, the time within which Windows
// asks a service process to connect to the Service Control Manager once it has started. Our
// service reports running as soon as its pipe is there, so a start that takes longer went wrong.
inline constexpr int MAX_START_POLLS = 300; // 100 ms apart

// After one poll of a service whose start was accepted: nothing while it is still on its way,
// success once it reports running, and "start service: " with the reason once it stopped (its
// exit code: after an accepted start, a stop is this start's), the status cannot be read, or it
// is still not running at the last poll (ERROR_SERVICE_REQUEST_TIMEOUT).
[[nodiscard]] std::optional<TextResult<void>>
start_poll_outcome(const Win32Result<SERVICE_STATUS_PROCESS>& polled, bool is_last_poll);

// After StartServiceW failed with `start_error`: nothing when the service runs already (the wait
// follows as after an accepted start); otherwise "start service: " and the OS error text of
// `start_error`. The Service Control Manager keeps a stopped service's exit code until the next
// start, so the code counts only when it changed during this start (`before` is the status just
// before StartServiceW) and only after ERROR_SERVICE_REQUEST_TIMEOUT, which says that this start's
// process ran: a manager that waits for the start itself gives it once that process stopped.
[[nodiscard]] std::optional<std::string>
refused_start_failure(std::uint32_t start_error, const Win32Result<SERVICE_STATUS_PROCESS>& before,
                      const Win32Result<SERVICE_STATUS_PROCESS>& polled);

} // namespace vemlox::win
