// The system's clock, read the one way the service reads it.
#pragma once

#include <cstdint>

namespace vemlox::win {

// The precise system time as a FILETIME count (100-nanosecond units since 1601, UTC).
[[nodiscard]] std::uint64_t now_filetime();

} // namespace vemlox::win
