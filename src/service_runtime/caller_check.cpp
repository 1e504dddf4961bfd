#include "service_runtime/caller_check.hpp"

#include "win32_shared/product_names.hpp"

#include <cstddef>

namespace vemlox::win {

namespace {

struct SplitPath {
    std::string_view folder;
    std::string_view file;
};

bool split_at_last_backslash(std::string_view path, SplitPath& parts) {
    const std::size_t cut = path.rfind('\\');
    if (cut == std::string_view::npos) {
        return false;
    }
    parts = {path.substr(0, cut), path.substr(cut + 1)};
    return true;
}

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Only ASCII letters fold: Windows' own case folding of other letters depends on the volume's
// upcase table, and a byte-wise rule that folds less can only reject, never admit, a stranger.
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

bool caller_allowed(std::string_view caller_path, std::string_view own_path) {
    SplitPath caller;
    SplitPath own;
    if (!split_at_last_backslash(caller_path, caller) || !split_at_last_backslash(own_path, own)) {
        return false;
    }
    if (caller.folder.empty() || !equal_ignoring_ascii_case(caller.folder, own.folder)) {
        return false;
    }
    return equal_ignoring_ascii_case(caller.file, APP_SHORT_EXE_NAME) ||
           equal_ignoring_ascii_case(caller.file, APP_EXE_NAME);
}

} // namespace vemlox::win
