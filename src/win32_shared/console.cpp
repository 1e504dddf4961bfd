#include "win32_shared/console.hpp"

#include "win32_shared/whole_write.hpp"
#include "win32_shared/wide.hpp"

#include <span>
#include <string>
#include <windows.h>

namespace vemlox::win {

void write_line(ConsoleStream stream, std::string_view text) {
    const HANDLE handle =
        GetStdHandle(stream == ConsoleStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    std::string line(text);
    line.push_back('\n');
    DWORD mode = 0;
    // GetConsoleMode, not the file type: the null device is a character device too.
    if (GetConsoleMode(handle, &mode) != 0) {
        const std::wstring wide = to_wide(line);
        write_whole(std::span<const wchar_t>(wide),
                    [handle](const wchar_t* first, DWORD count, DWORD& written) {
                        return WriteConsoleW(handle, first, count, &written, nullptr) != 0;
                    });
        return;
    }
    write_whole_file(handle, line);
}

} // namespace vemlox::win
