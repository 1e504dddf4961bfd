#include "machine/console_output_text.hpp"

#include "protocol/utf8.hpp"
#include "win32_shared/wide.hpp"

#include <climits>
#include <windows.h>

namespace vemlox::win {

// A console program whose output is redirected writes its text in the console's output code page,
// and a process started without a window gets the system's OEM code page there (437, 850, 866,
// 936, ...). Windows PowerShell does so, and its ConvertTo-Json keeps letters outside ASCII as they
// are, so an adapter named "以太网" reaches us as code page 936 bytes, not UTF-8. Output that is
// valid UTF-8 stays as it is: that is all ASCII output, and all output on a machine whose OEM code
// page is UTF-8 (65001). OEM bytes that happen to form valid UTF-8 are rare in real text, and each
// stream is judged as a whole, so such a guess can go wrong only for a whole stream.
//
// Known limit: a letter that the OEM code page cannot represent (a Cyrillic name on a machine
// with code page 437) was already written as "?" by the program, and no reading here brings it
// back; only the scripts themselves could avoid that, by choosing their own output encoding.
//
// MB_ERR_INVALID_CHARS stays off: with it, one byte the code page cannot map (a lead byte cut off
// at the end, a program writing another code page) would fail the whole conversion; without it,
// that byte becomes a default character and the rest of the text still reads.
std::string console_output_text(std::string bytes, unsigned code_page) {
    if (is_valid_utf8(bytes)) {
        return bytes;
    }
    // One call takes at most INT_MAX bytes; none of the programs we start prints that much text.
    if (bytes.size() > INT_MAX) {
        return to_valid_utf8(bytes);
    }
    const auto length = static_cast<int>(bytes.size());
    const int wide_length = MultiByteToWideChar(code_page, 0, bytes.data(), length, nullptr, 0);
    if (wide_length <= 0) {
        return to_valid_utf8(bytes);
    }
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    if (MultiByteToWideChar(code_page, 0, bytes.data(), length, wide.data(), wide_length) <= 0) {
        return to_valid_utf8(bytes);
    }
    return to_utf8(wide);
}

} // namespace vemlox::win
