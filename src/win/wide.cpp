#include "win/wide.hpp"

#include "protocol/utf8.hpp"

namespace vemlox::win {

std::wstring to_wide(std::string_view utf8) {
    std::wstring result;
    result.reserve(utf8.size());
    for_each_code_point(utf8, [&result](char32_t c) {
        if (c >= 0x10000) {
            const char32_t v = c - 0x10000;
            result.push_back(static_cast<wchar_t>(0xD800 + (v >> 10)));
            result.push_back(static_cast<wchar_t>(0xDC00 + (v & 0x3FF)));
        } else {
            result.push_back(static_cast<wchar_t>(c));
        }
    });
    return result;
}

std::string to_utf8(std::wstring_view utf16) {
    std::string result;
    result.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char32_t unit = static_cast<char16_t>(utf16[i]);
        char32_t c = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size()) {
            const char32_t next = static_cast<char16_t>(utf16[i + 1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                c = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            c = REPLACEMENT_CHARACTER;
        }
        append_utf8(result, c);
    }
    return result;
}

} // namespace vemlox::win
