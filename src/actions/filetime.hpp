// Time as Windows counts it (FILETIME): 100-nanosecond units since 1601-01-01 UTC. The one place
// its arithmetic is written, for the log's timestamps, the startup approval values and timers.
#pragma once

#include <cstdint>

namespace vemlox {

inline constexpr std::uint64_t FILETIME_UNITS_PER_MILLISECOND = 10'000;
inline constexpr std::uint64_t FILETIME_UNITS_PER_SECOND = 10'000'000;
// 1970-01-01 00:00 UTC.
inline constexpr std::uint64_t UNIX_EPOCH_FILETIME = 116444736000000000;

// Whole seconds since 1970; 0 for an earlier time.
[[nodiscard]] constexpr std::uint64_t seconds_since_1970(std::uint64_t filetime) {
    return filetime < UNIX_EPOCH_FILETIME
               ? 0
               : (filetime - UNIX_EPOCH_FILETIME) / FILETIME_UNITS_PER_SECOND;
}

// The due time of a timer that is to fire `milliseconds` from now: relative due times are negative.
[[nodiscard]] constexpr std::int64_t relative_due_time(std::uint32_t milliseconds) {
    return -static_cast<std::int64_t>(milliseconds * FILETIME_UNITS_PER_MILLISECOND);
}

} // namespace vemlox
