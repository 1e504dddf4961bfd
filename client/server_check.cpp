#include "server_check.hpp"

#include "win/names.hpp"
#include "win/paths.hpp"
#include "win/wide.hpp"

#include <cstddef>
#include <windows.h>

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

std::expected<std::string, std::string> install_dir() {
    std::wstring value(32767, L'\0');
    // An empty variable gives 0 like a missing one; only the error code tells them apart.
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableW(L"ProgramFiles", value.data(), static_cast<DWORD>(value.size()));
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        return std::unexpected("ProgramFiles is not set");
    }
    value.resize(length < value.size() ? length : 0);
    return win::to_utf8(win::join_path(value, win::to_wide(win::INSTALL_FOLDER_NAME)));
}

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
