// Splitting the process command line into arguments the way Windows programs do.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vemlox::win {

// The rules of CommandLineToArgvW, without loading shell32 into an elevated process: the program
// path runs to the next space or tab, or is everything between a leading pair of double quotes;
// after it, spaces and tabs separate arguments, double quotes group, 2n backslashes before a
// double quote stand for n backslashes and the quote groups, 2n+1 stand for n backslashes and a
// literal quote, other backslashes are literal, and two double quotes inside a group are one
// literal double quote. The program path is the first element (empty when the line is empty).
[[nodiscard]] std::vector<std::wstring> split_command_line(std::wstring_view command_line);

} // namespace vemlox::win
