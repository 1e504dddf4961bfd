// One line of text to standard output or standard error, readable both on a console and when
// redirected to a file or a pipe.
#pragma once

#include <string_view>

namespace vemlox::win {

enum class ConsoleStream { Output, Error };

// Writes `text` and a line feed. A console gets UTF-16 through WriteConsoleW, since its code
// page need not be UTF-8; a file or pipe gets the UTF-8 bytes, without any CR added. Nothing is
// written when the process has no such stream, and failures are ignored.
void write_line(ConsoleStream stream, std::string_view text);

} // namespace vemlox::win
