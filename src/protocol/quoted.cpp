#include "protocol/quoted.hpp"

#include "protocol/unicode_tables.hpp"
#include "protocol/utf8.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>

namespace vemlox {

namespace {

bool must_escape(char32_t c) {
    // Printable ASCII is by far the common case and is never in the table.
    if (c >= 0x20 && c < 0x7F) {
        return false;
    }
    const auto ranges = must_escape_ranges();
    const auto after = std::upper_bound(
        ranges.begin(), ranges.end(), c,
        [](char32_t value, const CodePointRange& range) { return value < range.first; });
    return after != ranges.begin() && c <= std::prev(after)->last;
}

void append_code_point_escape(std::string& out, char32_t c) {
    char digits[8];
    const auto [end, error] =
        std::to_chars(std::begin(digits), std::end(digits), static_cast<std::uint32_t>(c), 16);
    static_cast<void>(error); // eight hex digits hold every 32-bit value
    out += "\\u{";
    out.append(std::begin(digits), end);
    out += '}';
}

void append_quoted(std::string& out, std::string_view text) {
    out += '"';
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char32_t c = next_code_point(text, pos);
        switch (c) {
        case U'\\':
            out += "\\\\";
            break;
        case U'"':
            out += "\\\"";
            break;
        case U'\t':
            out += "\\t";
            break;
        case U'\r':
            out += "\\r";
            break;
        case U'\n':
            out += "\\n";
            break;
        case U'\0':
            out += "\\0";
            break;
        default:
            if (must_escape(c)) {
                append_code_point_escape(out, c);
            } else {
                append_utf8(out, c);
            }
        }
    }
    out += '"';
}

} // namespace

std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    append_quoted(out, text);
    return out;
}

std::string quoted(const std::string& text) {
    return quoted(std::string_view(text));
}

std::string quoted_list(std::span<const std::string> names) {
    std::string out = "[";
    bool is_first = true;
    for (const auto& name : names) {
        if (!is_first) {
            out += ", ";
        }
        is_first = false;
        append_quoted(out, name);
    }
    out += ']';
    return out;
}

} // namespace vemlox
