#include "protocol/line_framing.hpp"

#include "protocol/parse_request.hpp"

#include <algorithm>
#include <array>

namespace vemlox {

std::expected<std::string, LineFailure> read_line(const ChunkReader& read_chunk,
                                                  std::size_t max_bytes_without_line_feed) {
    std::string line;
    std::array<char, LINE_CHUNK_BYTES> chunk{};
    for (;;) {
        const std::size_t count = std::min(read_chunk(chunk), chunk.size());
        if (count == 0) {
            return std::unexpected(LineFailure::Ended);
        }
        // Earlier chunks held no line feed, so only the new bytes need searching.
        const std::size_t searched = line.size();
        line.append(chunk.data(), count);
        const std::size_t line_feed = line.find('\n', searched);
        if (line_feed != std::string::npos) {
            line.resize(line_feed);
            return line;
        }
        if (line.size() > max_bytes_without_line_feed) {
            return std::unexpected(LineFailure::TooLong);
        }
    }
}

std::optional<std::string> read_request_line(const ChunkReader& read_chunk) {
    auto line = read_line(read_chunk, MAX_REQUEST_BYTES);
    if (!line) {
        return std::nullopt;
    }
    return std::move(*line);
}

} // namespace vemlox
