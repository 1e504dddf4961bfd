// What the Service Control Manager says of an installed service: its state, exit codes and
// process id, asked the same way by setup and by the client.
#pragma once

#include "win32_shared/win32_result.hpp"

#include <windows.h>

namespace vemlox::win {

// `service` needs SERVICE_QUERY_STATUS access, which the default security of a service grants to
// interactive and service logons: a standard user's app may ask.
[[nodiscard]] Win32Result<SERVICE_STATUS_PROCESS> query_service_status(SC_HANDLE service);

} // namespace vemlox::win
