#include "win32_shared/os_error_text.hpp"

#include "win32_shared/wide.hpp"

#include <string_view>
#include <windows.h>

namespace vemlox::win {

namespace {

// An NT status carried as a Windows error code has this bit set; its text lives in NTDLL's
// message table, not in the system's.
constexpr std::uint32_t NT_STATUS_BIT = 0x10000000;
constexpr DWORD MESSAGE_BUFFER_UNITS = 2048;

std::wstring_view trim_trailing_white_space(std::wstring_view text) {
    while (!text.empty() &&
           (text.back() == L' ' || (text.back() >= L'\t' && text.back() <= L'\r'))) {
        text.remove_suffix(1);
    }
    return text;
}

std::string system_message(std::uint32_t code) {
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    HMODULE module = nullptr;
    std::uint32_t lookup_code = code;
    if ((code & NT_STATUS_BIT) != 0) {
        module = GetModuleHandleW(L"NTDLL.DLL");
        if (module != nullptr) {
            flags |= FORMAT_MESSAGE_FROM_HMODULE;
            lookup_code = code & ~NT_STATUS_BIT;
        }
    }
    wchar_t buffer[MESSAGE_BUFFER_UNITS] = {};
    const DWORD length =
        FormatMessageW(flags, module, lookup_code, 0, buffer, MESSAGE_BUFFER_UNITS, nullptr);
    if (length == 0) {
        return "OS Error " + std::to_string(lookup_code) + " (FormatMessageW() returned error " +
               std::to_string(GetLastError()) + ")";
    }
    const std::wstring_view text = trim_trailing_white_space(std::wstring_view(buffer, length));
    if (!is_valid_utf16(text)) {
        return "OS Error " + std::to_string(lookup_code) +
               " (FormatMessageW() returned invalid UTF-16)";
    }
    return to_utf8(text);
}

} // namespace

std::string os_error_text(std::uint32_t code) {
    return system_message(code) + " (os error " + std::to_string(code) + ")";
}

} // namespace vemlox::win
