#include "protocol/json_value.hpp"

#include "protocol/quoted.hpp"

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace vemlox {

namespace {

// The shortest text that reads back as the same double, written out in full without an exponent:
// 1.5, -0, 18446744073709552000, 0.0000001.
std::string plain_decimal(double value) {
    char buffer[64];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    (void)error; // 64 bytes always hold a double in scientific form
    const std::string_view scientific(buffer, static_cast<std::size_t>(end - buffer));

    const std::size_t e = scientific.find('e');
    std::string_view mantissa = scientific.substr(0, e);
    const int exponent = std::atoi(std::string(scientific.substr(e + 1)).c_str());

    std::string result;
    if (!mantissa.empty() && mantissa.front() == '-') {
        result.push_back('-');
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (const char c : mantissa) {
        if (c != '.') {
            digits.push_back(c);
        }
    }
    // The value is 0.d1d2d3... times 10^(exponent + 1).
    const int point = exponent + 1;
    if (point <= 0) {
        result += "0.";
        result.append(static_cast<std::size_t>(-point), '0');
        result += digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        result += digits;
        result.append(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
        result += digits.substr(0, static_cast<std::size_t>(point));
        result.push_back('.');
        result += digits.substr(static_cast<std::size_t>(point));
    }
    return result;
}

struct FoundDescription {
    std::string operator()(std::nullptr_t) const { return "null"; }
    std::string operator()(bool value) const {
        return value ? "boolean `true`" : "boolean `false`";
    }
    std::string operator()(std::uint64_t value) const {
        return "integer `" + std::to_string(value) + "`";
    }
    std::string operator()(std::int64_t value) const {
        return "integer `" + std::to_string(value) + "`";
    }
    std::string operator()(double value) const {
        return "floating point `" + plain_decimal(value) + "`";
    }
    std::string operator()(const std::string& value) const { return "string " + quoted(value); }
    std::string operator()(const JsonArray&) const { return "sequence"; }
    std::string operator()(const JsonObject&) const { return "map"; }
};

} // namespace

std::string describe_found(const JsonValue& value) {
    return std::visit(FoundDescription{}, value.data);
}

std::string invalid_type(const JsonValue& found, std::string_view expected) {
    return "invalid type: " + describe_found(found) + ", expected " + std::string(expected);
}

} // namespace vemlox
