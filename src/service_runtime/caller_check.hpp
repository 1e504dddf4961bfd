// Who may talk to the service: the product's own client executables in the service's own folder.
#pragma once

#include <string_view>

namespace vemlox::win {

// Both paths are UTF-8 Win32 paths. The caller's folder must equal the service's folder (ASCII
// letters in either case, every other byte exactly) and its file name must be "vemlox.exe" or
// "vemlox-app.exe" (ASCII letters in either case).
[[nodiscard]] bool caller_allowed(std::string_view caller_path, std::string_view own_path);

} // namespace vemlox::win
