#include "win32_shared/wide.hpp"

#include "protocol/utf8.hpp"

namespace vemlox::win {

namespace {

bool is_surrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// One code point of UTF-16 text and the units it takes; an unpaired surrogate stands for itself.
struct Utf16Step {
    char32_t code_point;
    std::size_t units;
};

Utf16Step decode_utf16(std::wstring_view text, std::size_t at) {
    const char32_t unit = static_cast<char16_t>(text[at]);
    if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < text.size()) {
        const char32_t next = static_cast<char16_t>(text[at + 1]);
        if (next >= 0xDC00 && next <= 0xDFFF) {
            return {0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), 2};
        }
    }
    return {unit, 1};
}

} // namespace

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
    for (std::size_t i = 0; i < utf16.size();) {
        const Utf16Step step = decode_utf16(utf16, i);
        append_utf8(result,
                    is_surrogate(step.code_point) ? REPLACEMENT_CHARACTER : step.code_point);
        i += step.units;
    }
    return result;
}

bool is_valid_utf16(std::wstring_view utf16) {
    for (std::size_t i = 0; i < utf16.size();) {
        const Utf16Step step = decode_utf16(utf16, i);
        if (is_surrogate(step.code_point)) {
            return false;
        }
        i += step.units;
    }
    return true;
}

} // namespace vemlox::win
