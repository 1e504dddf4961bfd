// A strict JSON reader over a byte cursor, with the failure texts and positions of the wire
// contract. It is deliberately low-level: the request decoder drives it token by token, so that it
// can check the "op" tag as soon as it is read, while the rest of a text is read into JsonValue
// trees.
#pragma once

#include "protocol/json_value.hpp"

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace vemlox {

// The reader's own failure descriptions.
namespace json_fault {
inline constexpr std::string_view EOF_LIST = "EOF while parsing a list";
inline constexpr std::string_view EOF_OBJECT = "EOF while parsing an object";
inline constexpr std::string_view EOF_STRING = "EOF while parsing a string";
inline constexpr std::string_view EOF_VALUE = "EOF while parsing a value";
inline constexpr std::string_view EXPECTED_COLON = "expected `:`";
inline constexpr std::string_view EXPECTED_LIST_COMMA_OR_END = "expected `,` or `]`";
inline constexpr std::string_view EXPECTED_OBJECT_COMMA_OR_END = "expected `,` or `}`";
inline constexpr std::string_view EXPECTED_IDENT = "expected ident";
inline constexpr std::string_view EXPECTED_VALUE = "expected value";
inline constexpr std::string_view EXPECTED_DOUBLE_QUOTE = "expected `\"`";
inline constexpr std::string_view INVALID_ESCAPE = "invalid escape";
inline constexpr std::string_view INVALID_NUMBER = "invalid number";
inline constexpr std::string_view NUMBER_OUT_OF_RANGE = "number out of range";
inline constexpr std::string_view INVALID_UNICODE = "invalid unicode code point";
inline constexpr std::string_view CONTROL_CHARACTER =
    "control character (\\u0000-\\u001F) found while parsing a string";
inline constexpr std::string_view KEY_MUST_BE_A_STRING = "key must be a string";
inline constexpr std::string_view LONE_LEADING_SURROGATE = "lone leading surrogate in hex escape";
inline constexpr std::string_view TRAILING_COMMA = "trailing comma";
inline constexpr std::string_view TRAILING_CHARACTERS = "trailing characters";
inline constexpr std::string_view UNEXPECTED_END_OF_HEX_ESCAPE = "unexpected end of hex escape";
inline constexpr std::string_view RECURSION_LIMIT = "recursion limit exceeded";
} // namespace json_fault

// Containers may nest this deep, the outermost counting as the first level.
inline constexpr int MAX_JSON_DEPTH = 127;

class JsonReader {
  public:
    // A failure text, position suffix included.
    using Failure = std::string;
    template <typename T> using Result = std::expected<T, Failure>;

    explicit JsonReader(std::string_view text) : text_(text) {}

    // Skips white space and returns the next byte without consuming it.
    [[nodiscard]] std::optional<unsigned char> peek_past_white_space();
    void advance() { ++index_; }
    [[nodiscard]] std::size_t index() const { return index_; }

    // `description` + " at line L column C", the column counting the bytes consumed so far on the
    // line (at) or one more (after_peek, capped at the end of the text).
    [[nodiscard]] Failure failure_at(std::string_view description) const;
    [[nodiscard]] Failure failure_after_peek(std::string_view description) const;

    // Any value, nested values included, starting at the next non-white-space byte.
    [[nodiscard]] Result<JsonValue> read_value();
    // A string's contents; the opening quote has been consumed.
    [[nodiscard]] Result<std::string> read_string_body();
    // A literal, a number or a string whose first byte has been peeked; containers are not read.
    [[nodiscard]] Result<JsonValue> read_scalar(unsigned char first);

    // The depth bookkeeping of a container about to be opened at the peeked byte, and closed.
    [[nodiscard]] Result<void> enter_container();
    void leave_container() { ++remaining_depth_; }

    // The separator logic before the next element or member. Returns false at the closing bracket
    // (not consumed); otherwise the next byte is the start of the element or the member's key.
    [[nodiscard]] Result<bool> next_element(bool& first);
    [[nodiscard]] Result<bool> next_member(bool& first);
    // The colon between a key and its value.
    [[nodiscard]] Result<void> member_colon();
    // Consumes the closing bracket of a container whose elements were all read.
    [[nodiscard]] Result<void> close_container(unsigned char closing);
    // After a failure inside a container that carries no position yet: consume what the container's
    // closing step would before the position is taken.
    void skip_to_close_for_position(unsigned char closing);

  private:
    [[nodiscard]] Result<JsonValue> read_array();
    [[nodiscard]] Result<JsonValue> read_object();
    [[nodiscard]] Result<void> read_literal_rest(std::string_view rest);
    [[nodiscard]] Result<JsonValue> read_number(bool positive, std::size_t start);
    [[nodiscard]] Result<JsonValue> read_long_integer(bool positive, std::size_t start);
    [[nodiscard]] Result<JsonValue> read_fraction(bool positive, std::size_t start);
    [[nodiscard]] Result<JsonValue> read_exponent(bool positive, std::size_t start,
                                                  bool zero_significand);
    [[nodiscard]] Result<JsonValue> floating_value(std::size_t start);
    [[nodiscard]] Result<void> read_escape(std::string& out);
    [[nodiscard]] Result<std::uint16_t> read_hex_escape();
    [[nodiscard]] std::optional<unsigned char> peek() const;

    std::string_view text_;
    std::size_t index_ = 0;
    int remaining_depth_ = MAX_JSON_DEPTH + 1;
};

// `description` + " at line L column C" for the byte offset `offset` of `text`.
[[nodiscard]] std::string with_position(std::string_view description, std::string_view text,
                                        std::size_t offset);

// A whole text as one JSON value with nothing but white space after it.
[[nodiscard]] std::expected<JsonValue, std::string> parse_json(std::string_view text);

} // namespace vemlox
