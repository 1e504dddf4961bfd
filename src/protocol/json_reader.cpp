#include "protocol/json_reader.hpp"

#include "protocol/utf8.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace vemlox {

namespace {

bool is_white_space_byte(unsigned char byte) {
    return byte == ' ' || byte == '\n' || byte == '\t' || byte == '\r';
}

bool is_digit(unsigned char byte) {
    return byte >= '0' && byte <= '9';
}

int hex_value(unsigned char byte) {
    if (is_digit(byte)) {
        return byte - '0';
    }
    if (byte >= 'a' && byte <= 'f') {
        return byte - 'a' + 10;
    }
    if (byte >= 'A' && byte <= 'F') {
        return byte - 'A' + 10;
    }
    return -1;
}

} // namespace

std::string with_position(std::string_view description, std::string_view text, std::size_t offset) {
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    }
    std::string result(description);
    result += " at line ";
    result += std::to_string(line);
    result += " column ";
    result += std::to_string(offset - line_start);
    return result;
}

std::optional<unsigned char> JsonReader::peek() const {
    if (index_ < text_.size()) {
        return static_cast<unsigned char>(text_[index_]);
    }
    return std::nullopt;
}

std::optional<unsigned char> JsonReader::peek_past_white_space() {
    while (index_ < text_.size() &&
           is_white_space_byte(static_cast<unsigned char>(text_[index_]))) {
        ++index_;
    }
    return peek();
}

bool JsonReader::next_is(char byte) {
    return peek_past_white_space() == static_cast<unsigned char>(byte);
}

TextResult<void> JsonReader::expect_end() {
    if (peek_past_white_space()) {
        return std::unexpected(failure_past_next_byte(json_fault::TRAILING_CHARACTERS));
    }
    return {};
}

std::string JsonReader::failure_here(std::string_view description) const {
    return with_position(description, text_, index_);
}

std::string JsonReader::failure_past_next_byte(std::string_view description) const {
    return with_position(description, text_, std::min(index_ + 1, text_.size()));
}

TextResult<JsonValue> JsonReader::read_value() {
    const auto first = peek_past_white_space();
    if (!first) {
        return std::unexpected(failure_past_next_byte(json_fault::EOF_VALUE));
    }
    if (*first == '[') {
        return read_array();
    }
    if (*first == '{') {
        return read_object();
    }
    return read_scalar(*first);
}

TextResult<std::string> JsonReader::read_string(std::string_view expected) {
    const auto first = peek_past_white_space();
    if (!first) {
        return std::unexpected(failure_past_next_byte(json_fault::EOF_VALUE));
    }
    if (*first == '[' || *first == '{') {
        const JsonValue container{*first == '[' ? JsonValue::Data(JsonArray{}) : JsonObject{}};
        return std::unexpected(failure_here(invalid_type(container, expected)));
    }
    if (*first != '"') {
        VEMLOX_ASSIGN_OR_RETURN(const JsonValue value, read_scalar(*first));
        return std::unexpected(failure_here(invalid_type(value, expected)));
    }
    ++index_;
    return read_string_body();
}

TextResult<JsonValue> JsonReader::read_scalar(unsigned char first) {
    JsonValue value;
    switch (first) {
    case 'n':
        ++index_;
        VEMLOX_RETURN_IF_ERROR(read_literal_rest("ull"));
        value.data = nullptr;
        break;
    case 't':
    case 'f': {
        ++index_;
        VEMLOX_RETURN_IF_ERROR(read_literal_rest(first == 't' ? "rue" : "alse"));
        value.data = first == 't';
        break;
    }
    case '-': {
        const std::size_t start = index_;
        ++index_;
        return read_number(false, start);
    }
    case '"': {
        ++index_;
        VEMLOX_ASSIGN_OR_RETURN(value.data, read_string_body());
        break;
    }
    default:
        if (is_digit(first)) {
            return read_number(true, index_);
        }
        return std::unexpected(failure_past_next_byte(json_fault::EXPECTED_VALUE));
    }
    value.end = index_;
    return value;
}

TextResult<void> JsonReader::read_literal_rest(std::string_view rest) {
    for (const char expected : rest) {
        const auto next = peek();
        if (!next) {
            return std::unexpected(failure_here(json_fault::EOF_VALUE));
        }
        ++index_;
        if (*next != static_cast<unsigned char>(expected)) {
            return std::unexpected(failure_here(json_fault::EXPECTED_IDENT));
        }
    }
    return {};
}

// Numbers follow the grammar byte by byte so that each fault is found where the contract places it;
// the value of a floating-point number is then taken from its whole text, correctly rounded.
TextResult<JsonValue> JsonReader::read_number(bool positive, std::size_t start) {
    const auto first = peek();
    if (!first) {
        return std::unexpected(failure_here(json_fault::EOF_VALUE));
    }
    ++index_;
    std::uint64_t significand = 0;
    if (*first == '0') {
        if (const auto next = peek(); next && is_digit(*next)) {
            return std::unexpected(failure_past_next_byte(json_fault::INVALID_NUMBER));
        }
    } else if (is_digit(*first)) {
        significand = *first - '0';
        while (const auto next = peek()) {
            if (!is_digit(*next)) {
                break;
            }
            const std::uint64_t digit = *next - '0';
            if (significand > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
                return read_long_integer(positive, start);
            }
            ++index_;
            significand = significand * 10 + digit;
        }
    } else {
        return std::unexpected(failure_here(json_fault::INVALID_NUMBER));
    }

    const auto next = peek();
    if (next == '.') {
        return read_fraction(positive, start);
    }
    if (next == 'e' || next == 'E') {
        return read_exponent(positive, start, significand == 0);
    }
    JsonValue value;
    value.end = index_;
    if (positive) {
        value.data = significand;
    } else if (significand == 0) {
        value.data = -0.0; // "-0" has no integer form
    } else if (significand <= std::uint64_t{1} << 63) {
        value.data = static_cast<std::int64_t>(0 - significand);
    } else {
        return floating_value(start);
    }
    return value;
}

// An integer too large for 64 bits continues as a floating-point number.
TextResult<JsonValue> JsonReader::read_long_integer(bool positive, std::size_t start) {
    while (const auto next = peek()) {
        if (*next == '.') {
            return read_fraction(positive, start);
        }
        if (*next == 'e' || *next == 'E') {
            return read_exponent(positive, start, false);
        }
        if (!is_digit(*next)) {
            break;
        }
        ++index_;
    }
    return floating_value(start);
}

TextResult<JsonValue> JsonReader::read_fraction(bool positive, std::size_t start) {
    ++index_; // '.'
    bool any_digit = false;
    bool nonzero = false;
    while (const auto next = peek()) {
        if (!is_digit(*next)) {
            break;
        }
        any_digit = true;
        nonzero = nonzero || *next != '0';
        ++index_;
    }
    if (!any_digit) {
        return std::unexpected(
            failure_past_next_byte(peek() ? json_fault::INVALID_NUMBER : json_fault::EOF_VALUE));
    }
    const auto next = peek();
    if (next == 'e' || next == 'E') {
        // Whether the number is zero decides what an exponent too large for 32 bits means.
        bool zero = !nonzero;
        for (std::size_t i = start; zero && i < index_; ++i) {
            zero = text_[i] == '0' || text_[i] == '.' || text_[i] == '-';
        }
        return read_exponent(positive, start, zero);
    }
    return floating_value(start);
}

TextResult<JsonValue> JsonReader::read_exponent(bool positive, std::size_t start,
                                                bool zero_significand) {
    ++index_; // 'e' or 'E'
    bool positive_exponent = true;
    if (const auto sign = peek(); sign == '+' || sign == '-') {
        positive_exponent = *sign == '+';
        ++index_;
    }
    const auto first = peek();
    if (!first) {
        return std::unexpected(failure_here(json_fault::EOF_VALUE));
    }
    ++index_;
    if (!is_digit(*first)) {
        return std::unexpected(failure_here(json_fault::INVALID_NUMBER));
    }
    std::int64_t exponent = *first - '0';
    while (const auto next = peek()) {
        if (!is_digit(*next)) {
            break;
        }
        ++index_;
        exponent = exponent * 10 + (*next - '0');
        if (exponent > std::numeric_limits<std::int32_t>::max()) {
            if (!zero_significand && positive_exponent) {
                return std::unexpected(failure_here(json_fault::NUMBER_OUT_OF_RANGE));
            }
            while (const auto rest = peek()) {
                if (!is_digit(*rest)) {
                    break;
                }
                ++index_;
            }
            JsonValue value;
            value.data = positive ? 0.0 : -0.0;
            value.end = index_;
            return value;
        }
    }
    return floating_value(start);
}

// The sign, when there is one, is part of the text.
TextResult<JsonValue> JsonReader::floating_value(std::size_t start) {
    const std::string number(text_.substr(start, index_ - start));
    const double parsed = std::strtod(number.c_str(), nullptr);
    if (std::isinf(parsed)) {
        return std::unexpected(failure_here(json_fault::NUMBER_OUT_OF_RANGE));
    }
    JsonValue value;
    value.data = parsed;
    value.end = index_;
    return value;
}

TextResult<std::string> JsonReader::read_string_body() {
    std::string out;
    std::size_t run_start = index_;
    while (true) {
        while (index_ < text_.size()) {
            const auto byte = static_cast<unsigned char>(text_[index_]);
            if (byte == '"' || byte == '\\' || byte < 0x20) {
                break;
            }
            ++index_;
        }
        if (index_ == text_.size()) {
            return std::unexpected(failure_here(json_fault::EOF_STRING));
        }
        const auto byte = static_cast<unsigned char>(text_[index_]);
        out.append(text_.substr(run_start, index_ - run_start));
        ++index_;
        if (byte == '"') {
            // Raw bytes are checked once the string is complete, so the position is past its quote.
            if (!is_valid_utf8(out)) {
                return std::unexpected(failure_here(json_fault::INVALID_UNICODE));
            }
            return out;
        }
        if (byte != '\\') {
            return std::unexpected(failure_here(json_fault::CONTROL_CHARACTER));
        }
        VEMLOX_RETURN_IF_ERROR(read_escape(out));
        run_start = index_;
    }
}

TextResult<void> JsonReader::read_escape(std::string& out) {
    const auto kind = peek();
    if (!kind) {
        return std::unexpected(failure_here(json_fault::EOF_STRING));
    }
    ++index_;
    switch (*kind) {
    case '"':
    case '\\':
    case '/':
        out.push_back(static_cast<char>(*kind));
        return {};
    case 'b':
        out.push_back('\b');
        return {};
    case 'f':
        out.push_back('\f');
        return {};
    case 'n':
        out.push_back('\n');
        return {};
    case 'r':
        out.push_back('\r');
        return {};
    case 't':
        out.push_back('\t');
        return {};
    case 'u':
        break;
    default:
        return std::unexpected(failure_here(json_fault::INVALID_ESCAPE));
    }

    VEMLOX_ASSIGN_OR_RETURN(const std::uint16_t unit, read_hex_escape());
    char32_t code_point = unit;
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
        return std::unexpected(failure_here(json_fault::LONE_LEADING_SURROGATE));
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        // A leading surrogate must be followed at once by the escape of a trailing one. Each byte
        // is consumed before it is judged, so a fault is placed past the byte that revealed it.
        for (const char expected : {'\\', 'u'}) {
            const auto next = peek();
            if (!next) {
                return std::unexpected(failure_here(json_fault::EOF_STRING));
            }
            ++index_;
            if (*next != static_cast<unsigned char>(expected)) {
                return std::unexpected(failure_here(json_fault::UNEXPECTED_END_OF_HEX_ESCAPE));
            }
        }
        VEMLOX_ASSIGN_OR_RETURN(const std::uint16_t trailing, read_hex_escape());
        if (trailing < 0xDC00 || trailing > 0xDFFF) {
            return std::unexpected(failure_here(json_fault::LONE_LEADING_SURROGATE));
        }
        code_point = 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{trailing} - 0xDC00);
    }
    append_utf8(out, code_point);
    return {};
}

TextResult<std::uint16_t> JsonReader::read_hex_escape() {
    if (text_.size() - index_ < 4) {
        index_ = text_.size();
        return std::unexpected(failure_here(json_fault::EOF_STRING));
    }
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hex_value(static_cast<unsigned char>(text_[index_]));
        ++index_;
        if (digit < 0) {
            return std::unexpected(failure_here(json_fault::INVALID_ESCAPE));
        }
        value = (value << 4) | static_cast<unsigned>(digit);
    }
    return static_cast<std::uint16_t>(value);
}

TextResult<void> JsonReader::enter_container() {
    if (--remaining_depth_ == 0) {
        return std::unexpected(failure_past_next_byte(json_fault::RECURSION_LIMIT));
    }
    ++index_;
    return {};
}

void JsonReader::leave_container() {
    ++index_;
    ++remaining_depth_;
}

TextResult<bool> JsonReader::next_element(bool first) {
    auto next = peek_past_white_space();
    if (!next) {
        return std::unexpected(failure_past_next_byte(json_fault::EOF_LIST));
    }
    if (*next == ']') {
        return false;
    }
    if (first) {
        return true;
    }
    if (*next != ',') {
        return std::unexpected(failure_past_next_byte(json_fault::EXPECTED_LIST_COMMA_OR_END));
    }
    ++index_;
    next = peek_past_white_space();
    if (!next) {
        return std::unexpected(failure_past_next_byte(json_fault::EOF_VALUE));
    }
    if (*next == ']') {
        return std::unexpected(failure_past_next_byte(json_fault::TRAILING_COMMA));
    }
    return true;
}

TextResult<bool> JsonReader::next_member(bool first) {
    auto next = peek_past_white_space();
    if (!next) {
        return std::unexpected(failure_past_next_byte(json_fault::EOF_OBJECT));
    }
    if (*next == '}') {
        return false;
    }
    if (!first) {
        if (*next != ',') {
            return std::unexpected(
                failure_past_next_byte(json_fault::EXPECTED_OBJECT_COMMA_OR_END));
        }
        ++index_;
        next = peek_past_white_space();
    }
    if (!next) {
        return std::unexpected(failure_past_next_byte(json_fault::EOF_VALUE));
    }
    if (*next == '}') {
        return std::unexpected(failure_past_next_byte(json_fault::TRAILING_COMMA));
    }
    if (*next != '"') {
        return std::unexpected(failure_past_next_byte(json_fault::KEY_MUST_BE_A_STRING));
    }
    return true;
}

TextResult<std::string> JsonReader::read_key() {
    ++index_; // the opening quote
    return read_string_body();
}

TextResult<void> JsonReader::member_colon() {
    const auto next = peek_past_white_space();
    if (!next) {
        return std::unexpected(failure_past_next_byte(json_fault::EOF_OBJECT));
    }
    if (*next != ':') {
        return std::unexpected(failure_past_next_byte(json_fault::EXPECTED_COLON));
    }
    ++index_;
    return {};
}

TextResult<JsonValue> JsonReader::read_array() {
    JsonArray elements;
    VEMLOX_RETURN_IF_ERROR(read_elements([&]() -> TextResult<void> {
        VEMLOX_ASSIGN_OR_RETURN(auto&& element, read_value());
        elements.push_back(std::move(element));
        return {};
    }));
    return JsonValue{std::move(elements), index_};
}

TextResult<JsonValue> JsonReader::read_object() {
    JsonObject members;
    const auto any_key = [](const std::string&) -> TextResult<void> { return {}; };
    const auto read_member_value = [&](std::string&& key) -> TextResult<void> {
        VEMLOX_ASSIGN_OR_RETURN(auto&& value, read_value());
        members.emplace_back(std::move(key), std::move(value));
        return {};
    };
    VEMLOX_RETURN_IF_ERROR(read_members(any_key, read_member_value));
    return JsonValue{std::move(members), index_};
}

TextResult<JsonValue> parse_json(std::string_view text) {
    JsonReader reader(text);
    VEMLOX_ASSIGN_OR_RETURN(JsonValue value, reader.read_value());
    VEMLOX_RETURN_IF_ERROR(reader.expect_end());
    return value;
}

} // namespace vemlox
