#include "protocol/decode_request.hpp"

#include "protocol/ipv4.hpp"
#include "protocol/json_reader.hpp"
#include "protocol/wire_names.hpp"

#include <algorithm>
#include <array>
#include <optional>

namespace vemlox {

namespace {

template <typename T> using Decoded = std::expected<T, std::string>;

// What is kept of a request once its text has been read: the operation named by its tag, and its
// other members (object form) or elements (array form) in document order, repeats included.
struct TaggedContent {
    std::size_t op = 0;
    JsonValue fields;
};

std::string invalid_type(const JsonValue& found, std::string_view expected) {
    return "invalid type: " + describe_found(found) + ", expected " + std::string(expected);
}

std::string elements_in_sequence(std::size_t count) {
    return count == 1 ? "1 element in sequence" : std::to_string(count) + " elements in sequence";
}

// A failure that is found inside a container but is not about a position in the text takes the
// position the container's closing step leaves behind.
std::string failure_at_close(JsonReader& reader, unsigned char closing, std::string_view text) {
    reader.skip_to_close_for_position(closing);
    return reader.failure_at(text);
}

// The tag's value: a string naming one of the operations. Checked as soon as it is read.
Decoded<std::size_t> read_tag(JsonReader& reader) {
    const auto first = reader.peek_past_white_space();
    if (!first) {
        return std::unexpected(reader.failure_after_peek(json_fault::EOF_VALUE));
    }
    constexpr std::string_view expected = "variant identifier";
    if (*first == '[' || *first == '{') {
        return std::unexpected(reader.failure_at(std::string("invalid type: ") +
                                                 (*first == '[' ? "sequence" : "map") +
                                                 ", expected " + std::string(expected)));
    }
    if (*first != '"') {
        auto value = reader.read_scalar(*first);
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        return std::unexpected(reader.failure_at(invalid_type(*value, expected)));
    }
    reader.advance();
    auto name = reader.read_string_body();
    if (!name) {
        return std::unexpected(std::move(name.error()));
    }
    const auto found = std::find(OP_NAMES.begin(), OP_NAMES.end(), *name);
    if (found == OP_NAMES.end()) {
        return std::unexpected(
            reader.failure_at("unknown variant `" + *name + "`, expected " + name_list(OP_NAMES)));
    }
    return static_cast<std::size_t>(found - OP_NAMES.begin());
}

Decoded<TaggedContent> read_object_form(JsonReader& reader) {
    if (auto entered = reader.enter_container(); !entered) {
        return std::unexpected(std::move(entered.error()));
    }
    std::optional<std::size_t> op;
    JsonObject members;
    bool first = true;
    while (true) {
        auto more = reader.next_member(first);
        if (!more) {
            return std::unexpected(std::move(more.error()));
        }
        if (!*more) {
            break;
        }
        reader.advance();
        auto key = reader.read_string_body();
        if (!key) {
            return std::unexpected(std::move(key.error()));
        }
        // A repeated tag is known from its key alone, so nothing after the key is read first.
        if (*key == TAG_NAME && op) {
            return std::unexpected(reader.failure_at("duplicate field `op`"));
        }
        if (auto colon = reader.member_colon(); !colon) {
            return std::unexpected(std::move(colon.error()));
        }
        if (*key == TAG_NAME) {
            auto tag = read_tag(reader);
            if (!tag) {
                return std::unexpected(std::move(tag.error()));
            }
            op = *tag;
            continue;
        }
        auto value = reader.read_value();
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        members.emplace_back(std::move(*key), std::move(*value));
    }
    if (!op) {
        return std::unexpected(failure_at_close(reader, '}', "missing field `op`"));
    }
    if (auto closed = reader.close_container('}'); !closed) {
        return std::unexpected(std::move(closed.error()));
    }
    return TaggedContent{*op, JsonValue{std::move(members), reader.index()}};
}

Decoded<TaggedContent> read_array_form(JsonReader& reader) {
    if (auto entered = reader.enter_container(); !entered) {
        return std::unexpected(std::move(entered.error()));
    }
    bool first = true;
    auto more = reader.next_element(first);
    if (!more) {
        return std::unexpected(std::move(more.error()));
    }
    if (!*more) {
        return std::unexpected(failure_at_close(reader, ']', "missing field `op`"));
    }
    const auto op = read_tag(reader);
    if (!op) {
        return std::unexpected(op.error());
    }
    JsonArray elements;
    while (true) {
        more = reader.next_element(first);
        if (!more) {
            return std::unexpected(std::move(more.error()));
        }
        if (!*more) {
            break;
        }
        auto value = reader.read_value();
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        elements.push_back(std::move(*value));
    }
    if (auto closed = reader.close_container(']'); !closed) {
        return std::unexpected(std::move(closed.error()));
    }
    return TaggedContent{*op, JsonValue{std::move(elements), reader.index()}};
}

Decoded<TaggedContent> read_tagged_content(JsonReader& reader) {
    const auto first = reader.peek_past_white_space();
    if (first == '{') {
        return read_object_form(reader);
    }
    if (first == '[') {
        return read_array_form(reader);
    }
    auto value = reader.read_value();
    if (!value) {
        return std::unexpected(std::move(value.error()));
    }
    return std::unexpected(
        reader.failure_at(invalid_type(*value, "internally tagged enum Request")));
}

// Value conversions. These failures come after the whole text was read and carry no position.

Decoded<std::string> to_string(const JsonValue& value) {
    if (const auto* text = std::get_if<std::string>(&value.data)) {
        return *text;
    }
    return std::unexpected(invalid_type(value, "a string"));
}

Decoded<bool> to_bool(const JsonValue& value) {
    if (const auto* flag = std::get_if<bool>(&value.data)) {
        return *flag;
    }
    return std::unexpected(invalid_type(value, "a boolean"));
}

Decoded<Ipv4Address> to_ipv4(const JsonValue& value) {
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
    -> Decoded<std::vector<typename decltype(convert(value))::value_type>> {
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
Decoded<void> match_fields(const RecordShape<N>& shape, const JsonValue& content, Assign assign) {
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
template <typename T> Decoded<void> store(Decoded<T> converted, T& target) {
    if (!converted) {
        return std::unexpected(std::move(converted.error()));
    }
    target = std::move(*converted);
    return {};
}

// A record of type `Record` from its members or elements; `assign(record, field, value)` converts
// one field's value into the record.
template <typename Record, std::size_t N, typename Assign>
Decoded<Record> decode_record(const RecordShape<N>& shape, const JsonValue& content,
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

Decoded<DnsSetting> to_dns_setting(const JsonValue& value) {
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

template <typename Variant> Decoded<Request> decode_fieldless(const JsonValue& content) {
    static constexpr RecordShape<0> shape{{}, ""};
    return decode_record<Variant>(
        shape, content, [](Variant&, std::size_t, const JsonValue&) { return Decoded<void>{}; });
}

Decoded<Request> decode_set_machine_startup(const JsonValue& content) {
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

Decoded<Request> decode_disable_adapters(const JsonValue& content) {
    static constexpr RecordShape<1> shape{{member::NAMES},
                                          "struct variant Request::DisableAdapters with 1 element"};
    return decode_record<request::DisableAdapters>(
        shape, content, [](request::DisableAdapters& variant, std::size_t, const JsonValue& value) {
            return store(to_sequence(value, to_string), variant.names);
        });
}

Decoded<Request> decode_restore_dns(const JsonValue& content) {
    static constexpr RecordShape<1> shape{{member::SETTINGS},
                                          "struct variant Request::RestoreDns with 1 element"};
    return decode_record<request::RestoreDns>(
        shape, content, [](request::RestoreDns& variant, std::size_t, const JsonValue& value) {
            return store(to_sequence(value, to_dns_setting), variant.settings);
        });
}

Decoded<Request> decode_variant(const TaggedContent& content) {
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

std::expected<Request, std::string> decode_request(std::string_view text) {
    JsonReader reader(text);
    auto content = read_tagged_content(reader);
    if (!content) {
        return std::unexpected(std::move(content.error()));
    }
    auto request = decode_variant(*content);
    if (!request) {
        return request;
    }
    if (reader.peek_past_white_space()) {
        return std::unexpected(reader.failure_after_peek(json_fault::TRAILING_CHARACTERS));
    }
    return request;
}

} // namespace vemlox
