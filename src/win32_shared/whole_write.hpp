// Writing a whole buffer through a call that counts in a DWORD.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>
#include <windows.h>

namespace vemlox::win {

// The most bytes handed to one write: 2 GiB, well within what a DWORD counts.
inline constexpr std::size_t MAX_WRITE_BYTES = MAXDWORD / 2;

// Hands `data` to `write(first, count, written)` in order, in pieces of at most MAX_WRITE_BYTES,
// each starting where the last write ended, until all is written or a write fails or writes
// nothing. A failure is not reported: what cannot be written is dropped.
template <typename T, typename Write> void write_whole(std::span<const T> data, Write write) {
    while (!data.empty()) {
        const auto count = static_cast<DWORD>(std::min(data.size(), MAX_WRITE_BYTES / sizeof(T)));
        DWORD written = 0;
        if (!write(data.data(), count, written) || written == 0) {
            return;
        }
        data = data.subspan(std::min<std::size_t>(written, data.size()));
    }
}

// Writes all of `bytes` to a file or pipe opened for synchronous I/O.
inline void write_whole_file(HANDLE handle, std::string_view bytes) {
    write_whole(std::span<const char>(bytes),
                [handle](const char* first, DWORD count, DWORD& written) {
                    return WriteFile(handle, first, count, &written, nullptr) != 0;
                });
}

} // namespace vemlox::win
