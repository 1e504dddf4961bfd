// Stopping and starting the installed service from the installer, each waited for until the
// service is where it was asked to be.
#pragma once

#include "protocol/text_result.hpp"

#include <chrono>
#include <windows.h>

namespace vemlox::win {

// As long as the app waits for an answer: a request the service has begun ends by then, since
// each program it runs is ended after 240 s.
inline constexpr std::chrono::minutes MAX_STOP_WAIT{5};

// Asks the service to stop (again, while it refuses because it is still starting) and waits until
// it reports stopped and its process has ended. Fails with "stop service: " and the SCM error
// text, or the timeout's OS error text when it is still not stopped after MAX_STOP_WAIT.
// `service` needs SERVICE_STOP and SERVICE_QUERY_STATUS.
[[nodiscard]] TextResult<void> stop_and_wait(SC_HANDLE service);

// Starts the service and waits until it reports running (see start_wait.hpp). Fails with
// "start service: " and the reason. `service` needs SERVICE_START and SERVICE_QUERY_STATUS.
[[nodiscard]] TextResult<void> start_and_wait(SC_HANDLE service);

// After a failure: starts the service with whatever files are in place, so that the machine is
// left with a service that runs. What comes of it is not waited for.
void start_again(SC_HANDLE service);

} // namespace vemlox::win
