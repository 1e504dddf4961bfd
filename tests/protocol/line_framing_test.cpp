#include "protocol/line_framing.hpp"
#include "protocol/parse_request.hpp"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace vemlox {
namespace {

// `bytes` as the full chunks a client would send, then `last` as a read of its own.
std::vector<std::string> chunks_of(const std::string& bytes, std::string last = {}) {
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < bytes.size(); at += LINE_CHUNK_BYTES) {
        pieces.push_back(bytes.substr(at, LINE_CHUNK_BYTES));
    }
    if (!last.empty()) {
        pieces.push_back(std::move(last));
    }
    return pieces;
}

struct Case {
    const char* what;
    std::vector<std::string> pieces; // one per read, then the client is gone
    std::optional<std::string> line;
    std::size_t reads;
};

TEST(ReadRequestLine, FramesLinesAndRefusesUnendedOnes) {
    const std::string at_limit(MAX_REQUEST_BYTES, 'a');
    const std::size_t reads_past_limit = MAX_REQUEST_BYTES / LINE_CHUNK_BYTES + 1;
    const Case cases[] = {
        {"one read", {"{\"op\":\"ping\"}\n"}, "{\"op\":\"ping\"}", 1},
        {"many small writes", {"{", "\"op\"", ":", "\"ping\"", "}", "\n"}, "{\"op\":\"ping\"}", 6},
        {"what follows the line feed is ignored", {"first\nsecond\n", "never read"}, "first", 1},
        {"carriage return kept", {"line\r\n"}, "line\r", 1},
        {"empty line", {"\n"}, "", 1},
        {"client gone at once", {}, std::nullopt, 1},
        {"client gone before the line feed", {"{\"op\":", "\"ping\"}"}, std::nullopt, 3},
        {"more than the limit without a line feed after the crossing read",
         chunks_of(at_limit + "a", "\n"), std::nullopt, reads_past_limit},
        {"exactly the limit without a line feed reads once more", chunks_of(at_limit + "\n"),
         at_limit, reads_past_limit},
        // A line feed in the read that crossed the limit still ends a line; the request's own size
        // rule rejects it later.
        {"line feed in the crossing read", chunks_of(at_limit, std::string(100, 'b') + "\nrest"),
         at_limit + std::string(100, 'b'), reads_past_limit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::size_t reads = 0;
        const auto line = read_request_line([&](std::span<char> chunk) {
            EXPECT_EQ(chunk.size(), LINE_CHUNK_BYTES);
            if (reads >= c.pieces.size()) {
                ++reads;
                return std::size_t{0};
            }
            const std::string& piece = c.pieces[reads++];
            EXPECT_LE(piece.size(), chunk.size()) << "a script piece must fit one chunk";
            const std::size_t count = std::min(piece.size(), chunk.size());
            std::memcpy(chunk.data(), piece.data(), count);
            return count;
        });
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(reads, c.reads);
    }
}

} // namespace
} // namespace vemlox
