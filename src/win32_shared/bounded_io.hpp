// One overlapped read or write, waited for no longer than a deadline allows: how both ends of the
// pipe wait for I/O that the other end may never complete.
#pragma once

#include "win32_shared/win32_result.hpp"

#include <cstdint>
#include <span>
#include <windows.h>

namespace vemlox::win {

// `handle` was opened for overlapped I/O; `event` is a manual-reset event the OVERLAPPED signals.
// The bytes moved, or the Windows error: WAIT_TIMEOUT when the operation was still running after
// `timeout_ms` and was cancelled, ERROR_CANCELLED when `stop` (an event, or null for none) was
// signalled first and the operation was cancelled. Returns only once the operation is over,
// cancelled or not.
[[nodiscard]] Win32Result<std::uint32_t> read_bounded(HANDLE handle, HANDLE event,
                                                      std::span<char> buffer,
                                                      std::uint32_t timeout_ms,
                                                      HANDLE stop = nullptr);
[[nodiscard]] Win32Result<std::uint32_t> write_bounded(HANDLE handle, HANDLE event,
                                                       std::span<const char> bytes,
                                                       std::uint32_t timeout_ms,
                                                       HANDLE stop = nullptr);

} // namespace vemlox::win
