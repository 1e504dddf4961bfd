#include "setup/binary_path_quoting.hpp"

#include "win32_shared/child_command_line.hpp"

namespace vemlox::win {

std::wstring quote_binary_path(std::wstring_view path) {
    if (!path.empty() && path.find_first_of(L"\t\n\v \"") == std::wstring_view::npos) {
        return std::wstring(path);
    }
    std::wstring quoted;
    append_escaped_argument(quoted, path, true);
    return quoted;
}

} // namespace vemlox::win
