#include "win32_shared/deadline.hpp"

#include <algorithm>
#include <windows.h>

namespace vemlox::win {

Deadline::Deadline(std::chrono::milliseconds span)
    : end_(GetTickCount64() + static_cast<std::uint64_t>(std::max<std::int64_t>(span.count(), 0))) {
}

std::uint32_t Deadline::remaining_ms() const {
    const std::uint64_t now = GetTickCount64();
    if (now >= end_) {
        return 0;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(end_ - now, INFINITE - 1));
}

} // namespace vemlox::win
