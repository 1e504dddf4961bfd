// Building a child's command line so that CommandLineToArgvW (and the C runtime) give back exactly
// the arguments we meant.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace vemlox::win {

// Appends `text` so that CommandLineToArgvW reads it back as one argument: inside double quotes
// when `in_quotes`; a double quote is written as \" with the backslashes in front of it doubled,
// and inside quotes so are the backslashes before the closing quote. The caller decides on the
// quotes, since the child's command line and the service's binary path quote in different cases.
void append_escaped_argument(std::wstring& command_line, std::wstring_view text, bool in_quotes);

// Appends one argument: quoted when empty or holding a space or a tab; a double quote is written
// as \" with the backslashes in front of it doubled, and so are backslashes before the closing
// quote.
void append_argument(std::wstring& command_line, std::wstring_view argument);

// The program path in double quotes (a path cannot hold one), then each argument after a space.
// Quoting the program always keeps a path with spaces from being read as a shorter path.
[[nodiscard]] std::wstring build_command_line(std::wstring_view program_path,
                                              std::span<const std::wstring> arguments);

} // namespace vemlox::win
