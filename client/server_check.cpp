#include "server_check.hpp"

#include "win/names.hpp"

#include <cstddef>

namespace vemlox::client {

namespace {

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

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
    return equal_ignoring_ascii_case(server_image.substr(0, cut), folder) &&
           equal_ignoring_ascii_case(server_image.substr(cut + 1), win::SERVICE_EXE_NAME);
}

} // namespace vemlox::client
