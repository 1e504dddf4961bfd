// Ownership of a thread-pool timer, whose callbacks may still run when it is closed.
#pragma once

#include "win32_shared/unique_handle.hpp"

#include <windows.h>

namespace vemlox::win {

// Closing a thread-pool timer first stops it and waits for any callback still running, so that
// no callback outlives what it was given.
struct ThreadpoolTimerTraits {
    using pointer = PTP_TIMER;
    static pointer invalid() { return nullptr; }
    static void close(pointer value) {
        SetThreadpoolTimer(value, nullptr, 0, 0);
        WaitForThreadpoolTimerCallbacks(value, TRUE);
        CloseThreadpoolTimer(value);
    }
};
using UniqueThreadpoolTimer = UniqueAny<ThreadpoolTimerTraits>;

} // namespace vemlox::win
