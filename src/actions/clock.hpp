// The time as the operations need it.
#pragma once

#include <cstdint>

namespace vemlox {

class Clock {
  public:
    virtual ~Clock() = default;

    // The precise system time as a FILETIME count.
    [[nodiscard]] virtual std::uint64_t now_filetime() = 0;
};

} // namespace vemlox
