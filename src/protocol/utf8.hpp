// UTF-8 decoding and encoding with replacement, shared by every room.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vemlox {

inline constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Decodes one code point at `text[pos]` and advances `pos`. An invalid or truncated sequence
// yields U+FFFD and advances over its maximal invalid prefix (at least one byte), the way
// WHATWG and most decoders substitute.
[[nodiscard]] char32_t next_code_point(std::string_view text, std::size_t& pos);

template <typename Visit> void for_each_code_point(std::string_view text, Visit&& visit) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        visit(next_code_point(text, pos));
    }
}

void append_utf8(std::string& out, char32_t code_point);

[[nodiscard]] bool is_valid_utf8(std::string_view text);
// Invalid sequences become U+FFFD.
[[nodiscard]] std::string to_valid_utf8(std::string_view text);
// Unicode White_Space.
[[nodiscard]] bool is_white_space(char32_t c);
// Trims leading and trailing Unicode White_Space of valid UTF-8 text.
[[nodiscard]] std::string_view trim_white_space(std::string_view text);

} // namespace vemlox
