#include "win32_shared/console.hpp"

#include "win32_shared/wide.hpp"

#include <algorithm>
#include <limits>
#include <string>
#include <windows.h>

namespace vemlox::win {

namespace {

template <typename Write> void write_all(std::size_t size, Write write) {
    std::size_t done = 0;
    while (done < size) {
        const auto chunk = static_cast<DWORD>(
            std::min<std::size_t>(size - done, std::numeric_limits<DWORD>::max() / 4));
        DWORD written = 0;
        if (!write(done, chunk, written) || written == 0) {
            return;
        }
        done += written;
    }
}

} // namespace

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
        write_all(wide.size(), [&](std::size_t offset, DWORD count, DWORD& written) {
            return WriteConsoleW(handle, wide.data() + offset, count, &written, nullptr) != 0;
        });
        return;
    }
    write_all(line.size(), [&](std::size_t offset, DWORD count, DWORD& written) {
        return WriteFile(handle, line.data() + offset, count, &written, nullptr) != 0;
    });
}

} // namespace vemlox::win
