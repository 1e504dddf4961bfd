// Following an installed service by polling: the pause between two polls, and its process.
#pragma once

#include "win32_shared/unique_handle.hpp"

#include <windows.h>

namespace vemlox::win {

// The service's process while it runs, held from before a stop request so that its id cannot
// pass to another process meanwhile; none when it is not running or cannot be opened.
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
