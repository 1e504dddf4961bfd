#include "protocol/decode_request.hpp"

#include "protocol/ipv4.hpp"
#include "protocol/json_reader.hpp"
#include "protocol/wire_names.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>

namespace vemlox {

namespace {

// What is kept of a request once its text has been read: the operation named by its tag, and its
// other members (object form) or elements (array form) in document order, repeats included.
struct TaggedContent {
    std::size_t op = 0;
    JsonValue fields;
};

// "`a`", "`a` or `b`", or "one of `a`, `b`, `c`".
std::string name_list(std::span<const std::string_view> names) {
    const auto ticked = [](std::string_view name) {
        std::string text;
        text.reserve(name.size() + 2);
        text.push_back('`');
        text.append(name);
        text.push_back('`');
        return text;
    };
    if (names.size() == 1) {
        return ticked(names[0]);
    }
    if (names.size() == 2) {
        return ticked(names[0]) + " or " + ticked(names[1]);
    }
    std::string list = "one of ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != 0) {
            list += ", ";
        }
        list += ticked(names[i]);
    }
    return list;
}

// The tag's value: a string naming one of the operations. Checked as soon as it is read.
TextResult<std::size_t> read_tag(JsonReader& reader) {
    VEMLOX_ASSIGN_OR_RETURN(const std::string name, reader.read_string("variant identifier"));
    const auto found = std::find(OP_NAMES.begin(), OP_NAMES.end(), name);
    if (found == OP_NAMES.end()) {
        return std::unexpected(
            reader.failure_here("unknown variant `" + name + "`, expected " + name_list(OP_NAMES)));
    }
    return static_cast<std::size_t>(found - OP_NAMES.begin());
}

// A failure about the tag's absence is placed past the container's closing bracket.
TextResult<TaggedContent> read_object_form(JsonReader& reader) {
    std::optional<std::size_t> op;
    JsonObject members;
    // A repeated tag is known from its key alone, so nothing after the key is read first.
    const auto check_key = [&](const std::string& key) -> TextResult<void> {
        if (key == TAG_NAME && op) {
            return std::unexpected(reader.failure_here("duplicate field `op`"));
        }
        return {};
    };
    const auto read_member_value = [&](std::string&& key) -> TextResult<void> {
        if (key == TAG_NAME) {
            VEMLOX_ASSIGN_OR_RETURN(op, read_tag(reader));
            return {};
        }
        VEMLOX_ASSIGN_OR_RETURN(auto&& value, reader.read_value());
        members.emplace_back(std::move(key), std::move(value));
        return {};
    };
    VEMLOX_RETURN_IF_ERROR(reader.read_members(check_key, read_member_value));
    if (!op) {
        return std::unexpected(reader.failure_here("missing field `op`"));
    }
    return TaggedContent{*op, JsonValue{std::move(members)}};
}

TextResult<TaggedContent> read_array_form(JsonReader& reader) {
    std::optional<std::size_t> op;
    JsonArray elements;
    VEMLOX_RETURN_IF_ERROR(reader.read_elements([&]() -> TextResult<void> {
        if (!op) {
            VEMLOX_ASSIGN_OR_RETURN(op, read_tag(reader));
            return {};
        }
        VEMLOX_ASSIGN_OR_RETURN(auto&& value, reader.read_value());
        elements.push_back(std::move(value));
        return {};
    }));
    if (!op) {
        return std::unexpected(reader.failure_here("missing field `op`"));
    }
    return TaggedContent{*op, JsonValue{std::move(elements)}};
}

TextResult<TaggedContent> read_tagged_content(JsonReader& reader) {
    if (reader.next_is('{')) {
        return read_object_form(reader);
    }
    if (reader.next_is('[')) {
        return read_array_form(reader);
    }
    VEMLOX_ASSIGN_OR_RETURN(const JsonValue value, reader.read_value());
    return std::unexpected(
        reader.failure_here(invalid_type(value, "internally tagged enum Request")));
}

// Converting values. These failures come after the whole text was read and carry no position. There
// is one `convert` for each type a member may have; a member of any other type does not compile.
// Strings are moved out of the values, which are read only once.

TextResult<void> convert(JsonValue& value, std::string& out) {
    auto* text = std::get_if<std::string>(&value.data);
    if (text == nullptr) {
        return std::unexpected(invalid_type(value, "a string"));
    }
    out = std::move(*text);
    return {};
}

TextResult<void> convert(JsonValue& value, bool& out) {
    const auto* flag = std::get_if<bool>(&value.data);
    if (flag == nullptr) {
        return std::unexpected(invalid_type(value, "a boolean"));
    }
    out = *flag;
    return {};
}

TextResult<void> convert(JsonValue& value, Ipv4Address& out) {
    const auto* text = std::get_if<std::string>(&value.data);
    if (text == nullptr) {
        return std::unexpected(invalid_type(value, "IPv4 address"));
    }
    const auto address = parse_ipv4(*text);
    if (!address) {
        return std::unexpected(std::string("invalid IPv4 address syntax"));
    }
    out = *address;
    return {};
}

template <typename Element> TextResult<void> convert(JsonValue& value, std::vector<Element>& out);
template <wire::Record Record> TextResult<void> convert(JsonValue& value, Record& out);

template <typename Element> TextResult<void> convert(JsonValue& value, std::vector<Element>& out) {
    auto* elements = std::get_if<JsonArray>(&value.data);
    if (elements == nullptr) {
        return std::unexpected(invalid_type(value, "a sequence"));
    }
    out.reserve(elements->size());
    for (JsonValue& element : *elements) {
        VEMLOX_RETURN_IF_ERROR(convert(element, out.emplace_back()));
    }
    return {};
}

// Converts `value` into the member at `Index` of `record`.
template <wire::Record Record, std::size_t Index>
TextResult<void> convert_member(JsonValue& value, Record& record) {
    return convert(value, record.*std::get<Index>(wire::SchemaOf<Record>::WIRE.members).field);
}

// One converter per member, in wire order, so that a member found by its name at run time is
// converted by the code for its type. For DnsSetting this is
//     {&convert_member<DnsSetting, 0>, &convert_member<DnsSetting, 1>}
template <wire::Record Record, std::size_t... Index>
constexpr auto member_converters(std::index_sequence<Index...>) {
    using Converter = TextResult<void> (*)(JsonValue&, Record&);
    return std::array<Converter, sizeof...(Index)>{&convert_member<Record, Index>...};
}

template <wire::Record Record>
constexpr auto MEMBER_CONVERTERS =
    member_converters<Record>(std::make_index_sequence<wire::MEMBER_COUNT<Record>>{});

std::string elements(std::size_t count) {
    return count == 1 ? "1 element" : std::to_string(count) + " elements";
}

// Fills `record` from object members or array elements, in the order they were given.
template <wire::Record Record> TextResult<void> decode_members(JsonValue& content, Record& record) {
    constexpr std::size_t count = wire::MEMBER_COUNT<Record>;
    constexpr auto& names = wire::MEMBER_NAMES<Record>;
    constexpr auto& convert_at = MEMBER_CONVERTERS<Record>;
    if (auto* members = std::get_if<JsonObject>(&content.data)) {
        std::array<bool, count> seen{};
        for (auto& [name, value] : *members) {
            const auto found = std::find(names.begin(), names.end(), name);
            if (found == names.end()) {
                return std::unexpected("unknown field `" + name + "`, " +
                                       (count == 0 ? std::string("there are no fields")
                                                   : "expected " + name_list(names)));
            }
            const auto index = static_cast<std::size_t>(found - names.begin());
            if (seen[index]) {
                return std::unexpected("duplicate field `" + name + "`");
            }
            seen[index] = true;
            VEMLOX_RETURN_IF_ERROR(convert_at[index](value, record));
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (!seen[i]) {
                return std::unexpected("missing field `" + std::string(names[i]) + "`");
            }
        }
        return {};
    }
    auto& given = std::get<JsonArray>(content.data);
    for (std::size_t i = 0; i < count; ++i) {
        if (i >= given.size()) {
            return std::unexpected("invalid length " + std::to_string(i) + ", expected " +
                                   std::string(wire::SchemaOf<Record>::WIRE.description) +
                                   " with " + elements(count));
        }
        VEMLOX_RETURN_IF_ERROR(convert_at[i](given[i], record));
    }
    if (given.size() > count) {
        return std::unexpected("invalid length " + std::to_string(given.size()) + ", expected " +
                               elements(count) + " in sequence");
    }
    return {};
}

// A record inside a request (a DnsSetting) may itself be written as an object or an array.
template <wire::Record Record> TextResult<void> convert(JsonValue& value, Record& out) {
    if (!std::holds_alternative<JsonObject>(value.data) &&
        !std::holds_alternative<JsonArray>(value.data)) {
        return std::unexpected(invalid_type(value, wire::SchemaOf<Record>::WIRE.description));
    }
    return decode_members(value, out);
}

template <wire::Operation Operation> TextResult<Request> decode_operation(JsonValue& content) {
    Request request(std::in_place_type<Operation>);
    VEMLOX_RETURN_IF_ERROR(decode_members(content, *std::get_if<Operation>(&request)));
    return request;
}

// The alternative the tag chose, decoded by the code for its type.
template <typename... Operations>
TextResult<Request> decode_chosen(TaggedContent& content,
                                  std::type_identity<std::variant<Operations...>>) {
    using Decoder = TextResult<Request> (*)(JsonValue&);
    static constexpr std::array<Decoder, sizeof...(Operations)> decoders{
        &decode_operation<Operations>...};
    return decoders[content.op](content.fields);
}

} // namespace

TextResult<Request> decode_request(std::string_view text) {
    JsonReader reader(text);
    VEMLOX_ASSIGN_OR_RETURN(TaggedContent content, read_tagged_content(reader));
    VEMLOX_ASSIGN_OR_RETURN(Request request, decode_chosen(content, std::type_identity<Request>{}));
    VEMLOX_RETURN_IF_ERROR(reader.expect_end());
    return request;
}

} // namespace vemlox
