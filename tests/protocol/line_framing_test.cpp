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

// Hands out the scripted pieces one per read, then reports the client gone.
class ScriptedClient {
  public:
    explicit ScriptedClient(std::vector<std::string> pieces) : pieces_(std::move(pieces)) {}

    std::optional<std::string> read_line() {
        return read_request_line([this](std::span<char> chunk) {
            ++reads_;
            EXPECT_EQ(chunk.size(), LINE_CHUNK_BYTES);
            if (next_ == pieces_.size()) {
                return std::size_t{0};
            }
            const std::string& piece = pieces_[next_++];
            EXPECT_LE(piece.size(), chunk.size()) << "a script piece must fit one chunk";
            std::memcpy(chunk.data(), piece.data(), std::min(piece.size(), chunk.size()));
            return std::min(piece.size(), chunk.size());
        });
    }
    [[nodiscard]] std::size_t reads() const { return reads_; }

  private:
    std::vector<std::string> pieces_;
    std::size_t next_ = 0;
    std::size_t reads_ = 0;
};

std::vector<std::string> chunks_of(const std::string& bytes) {
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < bytes.size(); at += LINE_CHUNK_BYTES) {
        pieces.push_back(bytes.substr(at, LINE_CHUNK_BYTES));
    }
    return pieces;
}

TEST(ReadRequestLine, ReturnsTheBytesBeforeTheFirstLineFeed) {
    ScriptedClient client({"{\"op\":\"ping\"}\n"});
    EXPECT_EQ(client.read_line(), "{\"op\":\"ping\"}");
    EXPECT_EQ(client.reads(), 1u);
}

TEST(ReadRequestLine, AssemblesALineSentInManySmallWrites) {
    ScriptedClient client({"{", "\"op\"", ":", "\"ping\"", "}", "\n"});
    EXPECT_EQ(client.read_line(), "{\"op\":\"ping\"}");
    EXPECT_EQ(client.reads(), 6u);
}

TEST(ReadRequestLine, IgnoresWhatFollowsTheLineFeed) {
    ScriptedClient client({"first\nsecond\n", "never read"});
    EXPECT_EQ(client.read_line(), "first");
    EXPECT_EQ(client.reads(), 1u);
}

TEST(ReadRequestLine, KeepsCarriageReturnsAndEmptyLines) {
    ScriptedClient crlf({"line\r\n"});
    EXPECT_EQ(crlf.read_line(), "line\r");
    ScriptedClient empty({"\n"});
    EXPECT_EQ(empty.read_line(), "");
}

TEST(ReadRequestLine, RefusesAClientThatClosesBeforeTheLineFeed) {
    ScriptedClient nothing({});
    EXPECT_EQ(nothing.read_line(), std::nullopt);
    ScriptedClient partial({"{\"op\":", "\"ping\"}"});
    EXPECT_EQ(partial.read_line(), std::nullopt);
    EXPECT_EQ(partial.reads(), 3u);
}

TEST(ReadRequestLine, RefusesMoreThanTheLimitWithoutALineFeedAfterTheCrossingRead) {
    std::vector<std::string> pieces = chunks_of(std::string(MAX_REQUEST_BYTES + 1, 'a'));
    pieces.push_back("\n");
    ScriptedClient client(pieces);
    EXPECT_EQ(client.read_line(), std::nullopt);
    EXPECT_EQ(client.reads(), MAX_REQUEST_BYTES / LINE_CHUNK_BYTES + 1);
}

TEST(ReadRequestLine, ExactlyTheLimitWithoutALineFeedReadsOnceMore) {
    ScriptedClient client(chunks_of(std::string(MAX_REQUEST_BYTES, 'a') + "\n"));
    EXPECT_EQ(client.read_line(), std::string(MAX_REQUEST_BYTES, 'a'));
    EXPECT_EQ(client.reads(), MAX_REQUEST_BYTES / LINE_CHUNK_BYTES + 1);
}

// Limits are checked per read: a line feed in the read that crossed the limit still ends a line,
// and the request's own size rule rejects it later.
TEST(ReadRequestLine, PassesOnALongLineWhoseLineFeedCameInTheCrossingRead) {
    std::vector<std::string> pieces = chunks_of(std::string(MAX_REQUEST_BYTES, 'a'));
    pieces.push_back(std::string(100, 'b') + "\nrest");
    ScriptedClient client(pieces);
    const auto line = client.read_line();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->size(), MAX_REQUEST_BYTES + 100);
}

} // namespace
} // namespace vemlox
