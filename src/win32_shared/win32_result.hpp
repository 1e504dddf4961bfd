// A value or the Windows error code that says why there is none: the one carrier of a Win32
// failure inside the Windows rooms, passed up with the macros of protocol/text_result.hpp.
#pragma once

#include "protocol/text_result.hpp"

#include <cstdint>
#include <expected>

namespace vemlox::win {

// The failure is the code GetLastError (or a call's own status) gave; its text is made only
// where the failure leaves the Windows side (os_error_text).
template <typename T> using Win32Result = std::expected<T, std::uint32_t>;

// The calling thread's last error, for a call that has just failed:
//     if (!CreateDirectoryW(path, nullptr)) { return last_error(); }
[[nodiscard]] std::unexpected<std::uint32_t> last_error();

// A status a call returned itself (ERROR_SUCCESS or a code), as a result.
[[nodiscard]] Win32Result<void> status_result(std::uint32_t status);

} // namespace vemlox::win
