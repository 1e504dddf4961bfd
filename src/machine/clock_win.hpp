// The system's clock.
#pragma once

#include "actions/clock.hpp"

namespace vemlox::win {

class WinClock final : public Clock {
  public:
    [[nodiscard]] std::uint64_t now_filetime() override;
};

} // namespace vemlox::win
