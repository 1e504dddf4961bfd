// A parsed JSON value that keeps what the wire contract needs and a general DOM loses: members in
// document order with repeats, integers apart from floating-point numbers, and where each value
// ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vemlox {

struct JsonValue;
struct JsonMember;
using JsonArray = std::vector<JsonValue>;
using JsonObject = std::vector<JsonMember>;

struct JsonValue {
    // Integers that fit are kept exactly: non-negative ones as unsigned, negative ones as signed.
    using Data = std::variant<std::nullptr_t, bool, std::uint64_t, std::int64_t, double,
                              std::string, JsonArray, JsonObject>;
    Data data;
    // Byte offset just past the value in the parsed text, for error positions.
    std::size_t end = 0;
};

struct JsonMember {
    std::string name;
    JsonValue value;
};

// What a value is, as failure texts describe it: "null", "boolean `true`", "integer `5`",
// "floating point `1.5`", "string \"x\"", "sequence", "map".
[[nodiscard]] std::string describe_found(const JsonValue& value);

// "invalid type: " + what `found` is + ", expected " + `expected`.
[[nodiscard]] std::string invalid_type(const JsonValue& found, std::string_view expected);

} // namespace vemlox
