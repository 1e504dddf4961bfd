// A strict JSON reader over a byte cursor, with the failure texts and positions of the wire
// contract. Besides whole values it reads an object member by member and an array element by
// element, so that the request decoder can check the "op" tag as soon as it is read while the rest
// of a text is read into JsonValue trees.
#pragma once

#include "protocol/json_value.hpp"
#include "protocol/text_result.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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
    explicit JsonReader(std::string_view text) : text_(text) {}

    // Whether the next token, past white space, starts with `byte`.
    [[nodiscard]] bool next_is(char byte);

    // Any value, nested values included.
    [[nodiscard]] TextResult<JsonValue> read_value();

    // A value that must be a string. Any other value fails with "invalid type: <found>, expected "
    // + `expected`, placed at a container's opening bracket (its contents unread) or just past a
    // scalar.
    [[nodiscard]] TextResult<std::string> read_string(std::string_view expected);

    // The object that starts at the next token (see next_is), member by member: `on_key(key)` as
    // soon as a key and the white space after it are read, so that its failure is placed where
    // the colon is looked for, and, once the colon is read, `on_value(std::move(key))`, which must
    // read the member's value. Ends past the closing brace.
    template <typename OnKey, typename OnValue>
    [[nodiscard]] TextResult<void> read_members(OnKey on_key, OnValue on_value);

    // The array that starts at the next token, element by element: `on_element()` must read each.
    // Ends past the closing bracket.
    template <typename OnElement>
    [[nodiscard]] TextResult<void> read_elements(OnElement on_element);

    // `description` + " at line L column C", placed where reading has got to.
    [[nodiscard]] std::string failure_here(std::string_view description) const;

    // Fails with "trailing characters" unless only white space follows.
    [[nodiscard]] TextResult<void> expect_end();

  private:
    [[nodiscard]] std::optional<unsigned char> peek() const;
    [[nodiscard]] std::optional<unsigned char> peek_past_white_space();
    // Like failure_here, but counting the next byte as read (capped at the end of the text): the
    // place of a fault that the byte about to be read reveals.
    [[nodiscard]] std::string failure_past_next_byte(std::string_view description) const;

    [[nodiscard]] TextResult<JsonValue> read_array();
    [[nodiscard]] TextResult<JsonValue> read_object();
    // A literal, a number or a string whose first byte has been peeked; containers are not read.
    [[nodiscard]] TextResult<JsonValue> read_scalar(unsigned char first);
    [[nodiscard]] TextResult<void> read_literal_rest(std::string_view rest);
    [[nodiscard]] TextResult<JsonValue> read_number(bool positive, std::size_t start);
    [[nodiscard]] TextResult<JsonValue> read_long_integer(bool positive, std::size_t start);
    [[nodiscard]] TextResult<JsonValue> read_fraction(bool positive, std::size_t start);
    [[nodiscard]] TextResult<JsonValue> read_exponent(bool positive, std::size_t start,
                                                      bool zero_significand);
    [[nodiscard]] TextResult<JsonValue> floating_value(std::size_t start);
    // A string's contents; the opening quote has been consumed.
    [[nodiscard]] TextResult<std::string> read_string_body();
    [[nodiscard]] TextResult<void> read_escape(std::string& out);
    [[nodiscard]] TextResult<std::uint16_t> read_hex_escape();

    // Consumes the opening bracket peeked at, within the nesting limit.
    [[nodiscard]] TextResult<void> enter_container();
    // Consumes the closing bracket that ended the container's entries.
    void leave_container();
    // The separator logic before the next element or member. False at the closing bracket (not
    // consumed); otherwise the next byte starts the element or the member's key.
    [[nodiscard]] TextResult<bool> next_element(bool first);
    [[nodiscard]] TextResult<bool> next_member(bool first);
    // A member's key, its opening quote next; then the colon between the key and its value.
    [[nodiscard]] TextResult<std::string> read_key();
    [[nodiscard]] TextResult<void> member_colon();

    std::string_view text_;
    std::size_t index_ = 0;
    int remaining_depth_ = MAX_JSON_DEPTH + 1;
};

template <typename OnKey, typename OnValue>
TextResult<void> JsonReader::read_members(OnKey on_key, OnValue on_value) {
    VEMLOX_RETURN_IF_ERROR(enter_container());
    for (bool first = true;; first = false) {
        VEMLOX_ASSIGN_OR_RETURN(const bool more, next_member(first));
        if (!more) {
            break;
        }
        VEMLOX_ASSIGN_OR_RETURN(auto&& key, read_key());
        // A key's failure is placed where the colon is looked for, past the white space after it.
        static_cast<void>(peek_past_white_space());
        VEMLOX_RETURN_IF_ERROR(on_key(std::as_const(key)));
        VEMLOX_RETURN_IF_ERROR(member_colon());
        VEMLOX_RETURN_IF_ERROR(on_value(std::move(key)));
    }
    leave_container();
    return {};
}

template <typename OnElement> TextResult<void> JsonReader::read_elements(OnElement on_element) {
    VEMLOX_RETURN_IF_ERROR(enter_container());
    for (bool first = true;; first = false) {
        VEMLOX_ASSIGN_OR_RETURN(const bool more, next_element(first));
        if (!more) {
            break;
        }
        VEMLOX_RETURN_IF_ERROR(on_element());
    }
    leave_container();
    return {};
}

// `description` + " at line L column C" for the byte offset `offset` of `text`.
[[nodiscard]] std::string with_position(std::string_view description, std::string_view text,
                                        std::size_t offset);

// A whole text as one JSON value with nothing but white space after it.
[[nodiscard]] TextResult<JsonValue> parse_json(std::string_view text);

} // namespace vemlox
