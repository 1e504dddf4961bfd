// A point in time a wait must not pass, for waits that are split into several Win32 calls.
#pragma once

#include <chrono>
#include <cstdint>

namespace vemlox::win {

class Deadline {
  public:
    // Starts now; a negative span is an end that has already come.
    explicit Deadline(std::chrono::milliseconds span);

    // What is left, for a Win32 wait. Never INFINITE: a deadline always ends.
    [[nodiscard]] std::uint32_t remaining_ms() const;

  private:
    std::uint64_t end_;
};

} // namespace vemlox::win
