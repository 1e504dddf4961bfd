#include "setup/command_line_args.hpp"

#include <cstddef>

namespace vemlox::win {

namespace {

bool is_blank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

} // namespace

std::vector<std::wstring> split_command_line(std::wstring_view line) {
    std::vector<std::wstring> arguments;
    std::size_t at = 0;

    // The program path takes no escapes: Windows paths cannot hold a double quote.
    std::wstring program;
    if (at < line.size() && line[at] == L'"') {
        ++at;
        while (at < line.size() && line[at] != L'"') {
            program.push_back(line[at++]);
        }
        if (at < line.size()) {
            ++at;
        }
    } else {
        while (at < line.size() && !is_blank(line[at])) {
            program.push_back(line[at++]);
        }
    }
    arguments.push_back(std::move(program));

    for (;;) {
        while (at < line.size() && is_blank(line[at])) {
            ++at;
        }
        if (at >= line.size()) {
            return arguments;
        }
        std::wstring argument;
        bool quoted = false;
        while (at < line.size() && (quoted || !is_blank(line[at]))) {
            if (line[at] == L'\\') {
                std::size_t backslashes = 0;
                while (at < line.size() && line[at] == L'\\') {
                    ++backslashes;
                    ++at;
                }
                if (at < line.size() && line[at] == L'"') {
                    argument.append(backslashes / 2, L'\\');
                    if (backslashes % 2 == 1) {
                        argument.push_back(L'"');
                        ++at;
                    }
                } else {
                    argument.append(backslashes, L'\\');
                }
            } else if (line[at] == L'"') {
                ++at;
                if (quoted && at < line.size() && line[at] == L'"') {
                    argument.push_back(L'"');
                    ++at;
                } else {
                    quoted = !quoted;
                }
            } else {
                argument.push_back(line[at++]);
            }
        }
        arguments.push_back(std::move(argument));
    }
}

} // namespace vemlox::win
