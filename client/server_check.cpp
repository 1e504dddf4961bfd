#include "server_check.hpp"

#include "win/caller_check.hpp"
#include "win/names.hpp"

#include <cstddef>

namespace vemlox::client {

bool server_image_allowed(std::string_view server_image, std::string_view install_folder) {
    const std::size_t cut = server_image.rfind('\\');
    if (cut == std::string_view::npos || install_folder.empty()) {
        return false;
    }
    // A folder given with its trailing separator (a bare drive root) still names the same folder.
    std::string_view folder = install_folder;
    if (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) {
        folder.remove_suffix(1);
    }
    return win::equal_ignoring_ascii_case(server_image.substr(0, cut), folder) &&
           win::equal_ignoring_ascii_case(server_image.substr(cut + 1), win::SERVICE_EXE_NAME);
}

} // namespace vemlox::client
