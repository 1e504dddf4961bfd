// Taking the service out of the Service Control Manager: stop it, wait a bounded time, delete it.
#pragma once

#include "protocol/text_result.hpp"

#include <windows.h>

namespace vemlox::win {

// Asks the installed service to stop, polls its state up to 50 times 100 ms apart until it has
// stopped, waits a few seconds at most for its process to end, and deletes its registration (a
// service still running is deleted once it stops).
// Fails with "open service: ..." or "delete service: ...". Does not close `manager`.
[[nodiscard]] TextResult<void> remove_service(SC_HANDLE manager);

} // namespace vemlox::win
