// Following an installed service by polling: the pause between two polls.
#pragma once

#include "win32_shared/unique_handle.hpp"

#include <windows.h>

namespace vemlox::win {

// The pause between two polls: 100 ms on a high-resolution timer, or Sleep where there is none.
class PollPause {
  public:
    PollPause();
    void wait();

  private:
    UniqueHandle timer_;
};

} // namespace vemlox::win
