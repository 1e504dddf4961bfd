// How both ends of the pipe frame a message: one line of bytes ended by a line feed, read in
// chunks as it arrives.
#pragma once

#include <cstddef>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace vemlox {

inline constexpr std::size_t LINE_CHUNK_BYTES = 1024;

// Reads up to `chunk.size()` bytes into `chunk`; 0 when the other end is gone, has closed its end
// or has run out of time.
using ChunkReader = std::function<std::size_t(std::span<char> chunk)>;

enum class LineFailure {
    Ended,   // the reader gave out before a line feed came
    TooLong, // more than the limit arrived without a line feed
};

// The bytes before the first line feed, read in chunks of LINE_CHUNK_BYTES. The limit is checked
// after each read, so a line feed in the read that crossed it still ends a line. Bytes after the
// line feed are ignored.
[[nodiscard]] std::expected<std::string, LineFailure>
read_line(const ChunkReader& read_chunk, std::size_t max_bytes_without_line_feed);

// A request line: nothing when the client gives out first or more than MAX_REQUEST_BYTES arrived
// without a line feed. A longer line whose line feed came in the crossing read is passed on, for
// the request's own size rule to reject.
[[nodiscard]] std::optional<std::string> read_request_line(const ChunkReader& read_chunk);

} // namespace vemlox
