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

// How long the installer waits for a start that was accepted: the Service Control Manager's own
// limit for a service to come up.
inline constexpr int MAX_START_POLLS = 300; // 100 ms apart

// After one poll of a service whose start was accepted: nothing while it is still on its way,
// success once it reports running, and "start service: " with the reason once it stopped (its
// exit code), the status cannot be read, or it is still not running at the last poll.
[[nodiscard]] std::optional<TextResult<void>>
start_poll_outcome(const Win32Result<SERVICE_STATUS_PROCESS>& polled, bool is_last_poll);

// After StartServiceW failed with `start_error`: nothing when the service runs already (the wait
// follows as after an accepted start); otherwise the failure, "start service: " and the service's
// exit code where it has stopped with one (a Service Control Manager that waits for the start
// itself refuses it with a code of its own), or the SCM error text.
[[nodiscard]] std::optional<std::string>
refused_start_failure(std::uint32_t start_error, const Win32Result<SERVICE_STATUS_PROCESS>& polled);

} // namespace vemlox::win
