// The executable path as the Service Control Manager's command line for the service.
#pragma once

#include <string>
#include <string_view>

namespace vemlox::win {

// A path without blanks (tab, line feed, vertical tab, space) or double quotes stays as it is.
// Any other path, and the empty one, is put in double quotes the way CommandLineToArgvW undoes:
// n backslashes before a double quote become 2n+1, n backslashes at the end become 2n. Unquoted,
// "C:\Program Files\Vemlox\vemlox-service.exe" would let the system try "C:\Program.exe" first.
[[nodiscard]] std::wstring quote_binary_path(std::wstring_view path);

} // namespace vemlox::win
