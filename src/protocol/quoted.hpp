// How names appear in log messages and in "found" descriptions: quoted, with everything that is
// not plainly printable escaped, so that one log line always shows exactly what was received.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace vemlox {

// `text` is UTF-8; invalid sequences are shown as U+FFFD.
[[nodiscard]] std::string quoted(std::string_view text);
// The same, for std::string: without this exact match, an unqualified call with a std::string
// would pick std::quoted through argument-dependent lookup wherever <iomanip> is visible.
[[nodiscard]] std::string quoted(const std::string& text);
// "[" + the quoted names separated by ", " + "]".
[[nodiscard]] std::string quoted_list(std::span<const std::string> names);

} // namespace vemlox
