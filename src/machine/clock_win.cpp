#include "machine/clock_win.hpp"

#include "win32_shared/clock.hpp"

namespace vemlox::win {

std::uint64_t WinClock::now_filetime() {
    return win::now_filetime();
}

} // namespace vemlox::win
