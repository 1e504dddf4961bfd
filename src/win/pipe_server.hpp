// The service's only door: one named pipe, one client at a time, one request line and one
// response line per connection, and one log line for each.
#pragma once

#include "actions/operations.hpp"
#include "win/stop_signal.hpp"

#include <chrono>
#include <cstddef>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vemlox::win {

inline constexpr std::size_t REQUEST_CHUNK_BYTES = 1024;
// A buffer holding more than this without a line feed is refused.
inline constexpr std::size_t MAX_REQUEST_LINE_BYTES = 16384;

inline constexpr std::string_view CALLER_NOT_ALLOWED = "caller not allowed";
inline constexpr std::string_view REQUEST_TOO_LARGE_OR_INCOMPLETE =
    "request too large or incomplete";

struct PipeServerSettings {
    std::wstring pipe_name;
    // A client that has not sent its whole request line this long after connecting is refused
    // as incomplete, so a silent client cannot hold the only pipe instance.
    std::chrono::milliseconds request_deadline{10000};
    // A client that has not taken its response this long after it was written is disconnected.
    std::chrono::milliseconds response_deadline{10000};
};

// The product's pipe "\\.\pipe\vemlox" with ten-second deadlines.
[[nodiscard]] PipeServerSettings default_pipe_server_settings();

// Serves clients until `stop` is requested, then returns success after the current request has
// been answered, flushed and disconnected. Returns at once with "security descriptor: N",
// "create pipe: N", "create event: N" or "flush timer: N" when setting up failed (N a Windows
// error code).
// `own_executable_path` is the service executable's UTF-8 path; callers must live beside it.
[[nodiscard]] std::expected<void, std::string>
serve_pipe(const std::wstring& log_folder, std::string_view own_executable_path,
           const StopSignal& stop, Operations& operations, const PipeServerSettings& settings);

// Reads up to `chunk.size()` bytes into `chunk`; 0 when the client is gone, has closed its end
// or has run out of time.
using ChunkReader = std::function<std::size_t(std::span<char> chunk)>;

// The bytes before the first line feed, read in chunks of 1024; nothing when the reader gives
// out first or more than 16384 bytes arrived without a line feed. Bytes after the line feed are
// ignored.
[[nodiscard]] std::optional<std::string> read_request_line(const ChunkReader& read_chunk);

} // namespace vemlox::win
