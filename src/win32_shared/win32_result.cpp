#include "win32_shared/win32_result.hpp"

#include <windows.h>

namespace vemlox::win {

std::unexpected<std::uint32_t> last_error() {
    return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
}

Win32Result<void> status_result(std::uint32_t status) {
    if (status != ERROR_SUCCESS) {
        return std::unexpected(status);
    }
    return {};
}

} // namespace vemlox::win
