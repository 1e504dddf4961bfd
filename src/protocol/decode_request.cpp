#include "protocol/decode_request.hpp"

#include "protocol/ipv4.hpp"
#include "protocol/json_reader.hpp"
#include "protocol/wire_names.hpp"

#include <algorithm>
#include <array>
#include <optional>

namespace vemlox {

namespace {

// What is kept of a request once its text has been read: the operation named by its tag, and its
// other members (object form) or elements (array form) in document order, repeats included.
struct TaggedContent {
    std::size_t op = 0;
    JsonValue fields;
};

std::string elements_in_sequence(std::size_t count) {
    return count == 1 ? "1 element in sequence" : std::to_string(count) + " elements in sequence";
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
    const auto read_member_value = [&](std::string key) -> TextResult<void> {
        if (key == TAG_NAME) {
            VEMLOX_ASSIGN_OR_RETURN(op, read_tag(reader));
            return {};
        }
        VEMLOX_ASSIGN_OR_RETURN(JsonValue value, reader.read_value());
        members.push_back({std::move(key), std::move(value)});
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
        VEMLOX_ASSIGN_OR_RETURN(JsonValue value, reader.read_value());
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

// Value conversions. These failures come after the whole text was read and carry no position.

TextResult<std::string> to_string(const JsonValue& value) {
    if (const auto* text = std::get_if<std::string>(&value.data)) {
        return *text;
    }
    return std::unexpected(invalid_type(value, "a string"));
}

TextResult<bool> to_bool(const JsonValue& value) {
    if (const auto* flag = std::get_if<bool>(&value.data)) {
        return *flag;
    }
    return std::unexpected(invalid_type(value, "a boolean"));
}

TextResult<Ipv4Address> to_ipv4(const JsonValue& value) {
    const auto* text = std::get_if<std::string>(&value.data);
    if (text == nullptr) {
        return std::unexpected(invalid_type(value, "IPv4 address"));
    }
    if (auto address = parse_ipv4(*text)) {
        return *address;
    }
    return std::unexpected(std::string("invalid IPv4 address syntax"));
}

template <typename Convert>
auto to_sequence(const JsonValue& value, Convert convert)
    -> TextResult<std::vector<typename decltype(convert(value))::value_type>> {
    const auto* elements = std::get_if<JsonArray>(&value.data);
    if (elements == nullptr) {
        return std::unexpected(invalid_type(value, "a sequence"));
    }
    std::vector<typename decltype(convert(value))::value_type> result;
    result.reserve(elements->size());
    for (const JsonValue& element : *elements) {
        auto converted = convert(element);
        if (!converted) {
            return std::unexpected(std::move(converted.error()));
        }
        result.push_back(std::move(*converted));
    }
    return result;
}

// The fields of a record (a request variant or a DnsSetting) in declaration order, and how its
// array form is described when it has too few elements.
template <std::size_t N> struct RecordShape {
    std::array<std::string_view, N> fields;
    std::string_view length_description;
};

// Matches object members or array elements against the record's fields, handing each field's
// value to `assign(field_index, value)`.
template <std::size_t N, typename Assign>
TextResult<void> match_fields(const RecordShape<N>& shape, const JsonValue& content,
                              Assign assign) {
    if (const auto* members = std::get_if<JsonObject>(&content.data)) {
        std::array<bool, N> seen{};
        for (const auto& [name, value] : *members) {
            const auto field = std::find(shape.fields.begin(), shape.fields.end(), name);
            if (field == shape.fields.end()) {
                return std::unexpected("unknown field `" + name + "`, " +
                                       (N == 0 ? std::string("there are no fields")
                                               : "expected " + name_list(shape.fields)));
            }
            const auto index = static_cast<std::size_t>(field - shape.fields.begin());
            if (seen[index]) {
                return std::unexpected("duplicate field `" + name + "`");
            }
            seen[index] = true;
            if (auto assigned = assign(index, value); !assigned) {
                return assigned;
            }
        }
        for (std::size_t i = 0; i < N; ++i) {
            if (!seen[i]) {
                return std::unexpected("missing field `" + std::string(shape.fields[i]) + "`");
            }
        }
        return {};
    }
    const auto& elements = std::get<JsonArray>(content.data);
    for (std::size_t i = 0; i < N; ++i) {
        if (i >= elements.size()) {
            return std::unexpected("invalid length " + std::to_string(i) + ", expected " +
                                   std::string(shape.length_description));
        }
        if (auto assigned = assign(i, elements[i]); !assigned) {
            return assigned;
        }
    }
    if (elements.size() > N) {
        return std::unexpected("invalid length " + std::to_string(elements.size()) + ", expected " +
                               elements_in_sequence(N));
    }
    return {};
}

// Stores a converted value into `target`, or passes the conversion's failure on.
template <typename T> TextResult<void> store(TextResult<T> converted, T& target) {
    if (!converted) {
        return std::unexpected(std::move(converted.error()));
    }
    target = std::move(*converted);
    return {};
}

// A record of type `Record` from its members or elements; `assign(record, field, value)` converts
// one field's value into the record.
template <typename Record, std::size_t N, typename Assign>
TextResult<Record> decode_record(const RecordShape<N>& shape, const JsonValue& content,
                                 Assign assign) {
    Record record{};
    auto matched = match_fields(shape, content, [&](std::size_t field, const JsonValue& value) {
        return assign(record, field, value);
    });
    if (!matched) {
        return std::unexpected(std::move(matched.error()));
    }
    return record;
}

TextResult<DnsSetting> to_dns_setting(const JsonValue& value) {
    if (!std::holds_alternative<JsonObject>(value.data) &&
        !std::holds_alternative<JsonArray>(value.data)) {
        return std::unexpected(invalid_type(value, "struct DnsSetting"));
    }
    static constexpr RecordShape<2> shape{{member::ADAPTER, member::SERVERS},
                                          "struct DnsSetting with 2 elements"};
    return decode_record<DnsSetting>(
        shape, value, [](DnsSetting& setting, std::size_t field, const JsonValue& member) {
            return field == 0 ? store(to_string(member), setting.adapter)
                              : store(to_sequence(member, to_ipv4), setting.servers);
        });
}

template <typename Variant> TextResult<Request> decode_fieldless(const JsonValue& content) {
    static constexpr RecordShape<0> shape{{}, ""};
    return decode_record<Variant>(
        shape, content, [](Variant&, std::size_t, const JsonValue&) { return TextResult<void>{}; });
}

TextResult<Request> decode_set_machine_startup(const JsonValue& content) {
    static constexpr RecordShape<2> shape{
        {member::NAME, member::ENABLED},
        "struct variant Request::SetMachineStartup with 2 elements"};
    return decode_record<request::SetMachineStartup>(
        shape, content,
        [](request::SetMachineStartup& variant, std::size_t field, const JsonValue& value) {
            return field == 0 ? store(to_string(value), variant.name)
                              : store(to_bool(value), variant.enabled);
        });
}

TextResult<Request> decode_disable_adapters(const JsonValue& content) {
    static constexpr RecordShape<1> shape{{member::NAMES},
                                          "struct variant Request::DisableAdapters with 1 element"};
    return decode_record<request::DisableAdapters>(
        shape, content, [](request::DisableAdapters& variant, std::size_t, const JsonValue& value) {
            return store(to_sequence(value, to_string), variant.names);
        });
}

TextResult<Request> decode_restore_dns(const JsonValue& content) {
    static constexpr RecordShape<1> shape{{member::SETTINGS},
                                          "struct variant Request::RestoreDns with 1 element"};
    return decode_record<request::RestoreDns>(
        shape, content, [](request::RestoreDns& variant, std::size_t, const JsonValue& value) {
            return store(to_sequence(value, to_dns_setting), variant.settings);
        });
}

TextResult<Request> decode_variant(const TaggedContent& content) {
    static_assert(std::variant_size_v<Request> == OP_NAMES.size());
    switch (content.op) {
    case 0:
        return decode_fieldless<request::Ping>(content.fields);
    case 1:
        return decode_set_machine_startup(content.fields);
    case 2:
        return decode_fieldless<request::CreateRestorePoint>(content.fields);
    case 3:
        return decode_fieldless<request::EnableAdapters>(content.fields);
    case 4:
        return decode_disable_adapters(content.fields);
    case 5:
        return decode_fieldless<request::RenewIp>(content.fields);
    case 6:
        return decode_fieldless<request::UsePublicDns>(content.fields);
    default:
        return decode_restore_dns(content.fields);
    }
}

} // namespace

TextResult<Request> decode_request(std::string_view text) {
    JsonReader reader(text);
    VEMLOX_ASSIGN_OR_RETURN(const TaggedContent content, read_tagged_content(reader));
    VEMLOX_ASSIGN_OR_RETURN(Request request, decode_variant(content));
    VEMLOX_RETURN_IF_ERROR(reader.expect_end());
    return request;
}

} // namespace vemlox
