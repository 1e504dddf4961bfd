#include "win32_shared/child_command_line.hpp"

#include <cstddef>

namespace vemlox::win {

void append_escaped_argument(std::wstring& command_line, std::wstring_view text, bool in_quotes) {
    if (in_quotes) {
        command_line.push_back(L'"');
    }
    // Backslashes are literal unless a double quote follows them; then 2n backslashes stand for n.
    std::size_t backslashes = 0;
    for (const wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            command_line.append(2 * backslashes + 1, L'\\');
        } else {
            command_line.append(backslashes, L'\\');
        }
        backslashes = 0;
        command_line.push_back(c);
    }
    if (in_quotes) {
        command_line.append(2 * backslashes, L'\\');
        command_line.push_back(L'"');
    } else {
        command_line.append(backslashes, L'\\');
    }
}

void append_argument(std::wstring& command_line, std::wstring_view argument) {
    const bool in_quotes =
        argument.empty() || argument.find_first_of(L" \t") != std::wstring_view::npos;
    append_escaped_argument(command_line, argument, in_quotes);
}

std::wstring build_command_line(std::wstring_view program_path,
                                std::span<const std::wstring> arguments) {
    std::wstring command_line;
    command_line.push_back(L'"');
    command_line.append(program_path);
    command_line.push_back(L'"');
    for (const std::wstring& argument : arguments) {
        command_line.push_back(L' ');
        append_argument(command_line, argument);
    }
    return command_line;
}

} // namespace vemlox::win
