#include "actions/adapter_listing.hpp"

#include "protocol/json_reader.hpp"
#include "protocol/text_result.hpp"

#include <optional>

namespace vemlox {

namespace {

// A fault in a value that parsed as JSON is placed just past that value.
std::string fault_at(std::string_view text, const JsonValue& value, std::string description) {
    return with_position(description, text, value.end);
}

std::string invalid_type(std::string_view text, const JsonValue& value, std::string_view expected) {
    return fault_at(text, value,
                    "invalid type: " + describe_found(value) + ", expected " +
                        std::string(expected));
}

// Other members are skipped: PowerShell may add some, and hash tables come in no fixed order.
TextResult<Row> to_row(std::string_view text, const JsonValue& value) {
    const auto* members = std::get_if<JsonObject>(&value.data);
    if (members == nullptr) {
        return std::unexpected(invalid_type(text, value, "struct Row"));
    }
    std::optional<std::string> name;
    std::optional<bool> disabled;
    for (const auto& [key, member] : *members) {
        if (key == "name") {
            if (name) {
                return std::unexpected(fault_at(text, value, "duplicate field `name`"));
            }
            const auto* string = std::get_if<std::string>(&member.data);
            if (string == nullptr) {
                return std::unexpected(invalid_type(text, member, "a string"));
            }
            name = *string;
        } else if (key == "disabled") {
            if (disabled) {
                return std::unexpected(fault_at(text, value, "duplicate field `disabled`"));
            }
            const auto* flag = std::get_if<bool>(&member.data);
            if (flag == nullptr) {
                return std::unexpected(invalid_type(text, member, "a boolean"));
            }
            disabled = *flag;
        }
    }
    if (!name) {
        return std::unexpected(fault_at(text, value, "missing field `name`"));
    }
    if (!disabled) {
        return std::unexpected(fault_at(text, value, "missing field `disabled`"));
    }
    return Row{std::move(*name), *disabled};
}

TextResult<std::string> to_name(std::string_view text, const JsonValue& value) {
    if (const auto* string = std::get_if<std::string>(&value.data)) {
        return *string;
    }
    return std::unexpected(invalid_type(text, value, "a string"));
}

template <typename Convert>
auto decode_array(std::string_view text, Convert convert)
    -> TextResult<std::vector<typename decltype(convert(text, JsonValue{}))::value_type>> {
    VEMLOX_ASSIGN_OR_RETURN(auto parsed, parse_json(text));
    const auto* elements = std::get_if<JsonArray>(&parsed.data);
    if (elements == nullptr) {
        return std::unexpected(invalid_type(text, parsed, "a sequence"));
    }
    std::vector<typename decltype(convert(text, JsonValue{}))::value_type> result;
    result.reserve(elements->size());
    for (const JsonValue& element : *elements) {
        VEMLOX_ASSIGN_OR_RETURN(auto converted, convert(text, element));
        result.push_back(std::move(converted));
    }
    return result;
}

} // namespace

TextResult<std::vector<Row>> decode_rows(std::string_view json) {
    return decode_array(json, to_row);
}

TextResult<std::vector<std::string>> decode_names(std::string_view json) {
    return decode_array(json, to_name);
}

} // namespace vemlox
