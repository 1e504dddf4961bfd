// Following an installed service by polling: its status and the pause between two polls.
#pragma once

#include "win32_shared/unique_handle.hpp"

#include <optional>
#include <windows.h>

namespace vemlox::win {

// The service's state, exit code and process id; nothing when the query fails. `service` needs
// SERVICE_QUERY_STATUS access.
[[nodiscard]] std::optional<SERVICE_STATUS_PROCESS> query_status(SC_HANDLE service);

// The pause between two polls: 100 ms on a high-resolution timer, or Sleep where there is none.
class PollPause {
  public:
    PollPause();
    void wait();

  private:
    UniqueHandle timer_;
};

} // namespace vemlox::win
