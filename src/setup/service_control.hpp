// Stopping and starting the installed service from the installer, each waited for until the
// service is where it was asked to be.
#pragma once

#include "protocol/text_result.hpp"

#include <chrono>
#include <expected>
#include <string>
#include <windows.h>

namespace vemlox::win {

// As long as the app waits for an answer: a request the service has begun ends by then, since
// each program it runs is ended after 240 s.
inline constexpr std::chrono::minutes MAX_STOP_WAIT{5};

// Why a stop did not come: the Service Control Manager refused the request or a status query, or
// the service (or its process) was still there after MAX_STOP_WAIT.
enum class StopFailure { Refused, TimedOut };

// "stop service: " and the SCM error text, or the OS error text of ERROR_SERVICE_REQUEST_TIMEOUT.
[[nodiscard]] std::string stop_failure_text(StopFailure failure);

// Asks the service to stop (again, while it refuses because it is still starting or already
// stopping) and waits until it reports stopped and its process has ended. Install and uninstall
// both wait this way. `service` needs SERVICE_STOP and SERVICE_QUERY_STATUS.
[[nodiscard]] std::expected<void, StopFailure> stop_and_wait(SC_HANDLE service);

// Starts the service and waits until it reports running (see start_wait.hpp). Fails with
// "start service: " and the reason. `service` needs SERVICE_START and SERVICE_QUERY_STATUS.
[[nodiscard]] TextResult<void> start_and_wait(SC_HANDLE service);

// After a failure: starts the service with whatever files are in place, so that the machine is
// left with a service that runs. What comes of it is not waited for.
void start_again(SC_HANDLE service);

} // namespace vemlox::win
