#include "win/binary_path_quoting.hpp"

#include <cstddef>

namespace vemlox::win {

std::wstring quote_binary_path(std::wstring_view path) {
    if (!path.empty() && path.find_first_of(L"\t\n\v \"") == std::wstring_view::npos) {
        return std::wstring(path);
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : path) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

} // namespace vemlox::win
