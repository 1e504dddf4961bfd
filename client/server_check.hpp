// Which process the client trusts on the other end of the pipe: the installed service only.
#pragma once

#include <string_view>

namespace vemlox::client {

// True when `server_image` (a UTF-8 Win32 path) is "vemlox-service.exe" directly in
// `install_folder`. Folder and file name compare with ASCII letters in either case and every other
// byte exactly, the rule the service applies to its own callers.
[[nodiscard]] bool server_image_allowed(std::string_view server_image,
                                        std::string_view install_folder);

} // namespace vemlox::client
