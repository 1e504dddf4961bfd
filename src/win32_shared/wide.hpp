// The one pair of conversions between the program's UTF-8 text and Windows' UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace vemlox::win {

// Invalid UTF-8 becomes U+FFFD.
[[nodiscard]] std::wstring to_wide(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
[[nodiscard]] std::string to_utf8(std::wstring_view utf16);
// False when the text holds an unpaired surrogate.
[[nodiscard]] bool is_valid_utf16(std::wstring_view utf16);

} // namespace vemlox::win
