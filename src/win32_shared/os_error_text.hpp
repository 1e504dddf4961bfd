// A Windows error code as the system's message followed by " (os error N)".
#pragma once

#include <cstdint>
#include <string>

namespace vemlox::win {

[[nodiscard]] std::string os_error_text(std::uint32_t code);

} // namespace vemlox::win
