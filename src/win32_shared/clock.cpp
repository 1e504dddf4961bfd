#include "win32_shared/clock.hpp"

#include <windows.h>

namespace vemlox::win {

std::uint64_t now_filetime() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

} // namespace vemlox::win
