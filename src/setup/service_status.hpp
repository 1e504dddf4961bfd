// Following an installed service by polling: the pause between two polls, and its process.
#pragma once

#include "win32_shared/unique_handle.hpp"

#include <windows.h>

namespace vemlox::win {

// The service's process while the Service Control Manager names it, held from then on so that
// its id cannot pass to another process meanwhile; none when the status names no process (a
// stopped service, or one that is still starting) or it cannot be opened.
[[nodiscard]] UniqueHandle open_service_process(const SERVICE_STATUS_PROCESS& status);

// The pause between two polls: 100 ms on a high-resolution timer, or Sleep where there is none.
class PollPause {
  public:
    PollPause();
    void wait();

  private:
    UniqueHandle timer_;
};

} // namespace vemlox::win
