// How a record travels on the wire, stated once in the record's own type as
// `static constexpr auto WIRE`: its members in wire order, each with its name, the field that holds
// it and the rule its value must follow. An operation also states what its ok response carries
// (`using Reply`). Decoding, validation, the response's payload and the client's encoding and
// decoding are all derived from it, so a record without a schema, or a member without a rule, does
// not compile.
#pragma once

#include "protocol/text_result.hpp"

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>

namespace vemlox::wire {

// One member: its name on the wire, the field of `Record` that holds it, and its value rule, a
// callable that takes the field's value and returns TextResult<void>.
template <typename Record, typename Value, typename Rule> struct Member {
    std::string_view name;
    Value Record::*field;
    Rule rule;
};

template <typename Record, typename Value, typename Rule>
constexpr Member<Record, Value, Rule> member(std::string_view name, Value Record::*field,
                                             Rule rule) {
    return {name, field, rule};
}

// The rule of a member that every value of its type satisfies, stated so that no rule is forgotten.
struct AnyValue {
    template <typename Value> TextResult<void> operator()(const Value&) const { return {}; }
};
inline constexpr AnyValue any_value{};

template <typename... Members> struct Schema {
    // The "op" name of an operation; empty for a record that is only part of one.
    std::string_view op;
    // What the failure texts call the record: "struct variant Request::RestoreDns",
    // "struct DnsSetting". An operation without members is never described.
    std::string_view description;
    std::tuple<Members...> members;
};

// An operation without members.
constexpr Schema<> operation(std::string_view op) {
    return {op, {}, {}};
}

template <typename... Members>
constexpr Schema<Members...> operation(std::string_view op, std::string_view description,
                                       Members... members) {
    return {op, description, {members...}};
}

// A record that travels inside an operation.
template <typename... Members>
constexpr Schema<Members...> record(std::string_view description, Members... members) {
    return {{}, description, {members...}};
}

// A record's schema: its own `WIRE`. A record that an app sees without the wire (DnsSetting) has
// it stated by a specialisation beside the requests instead.
template <typename T> struct SchemaOf {};
template <typename T>
requires requires {
    T::WIRE;
}
struct SchemaOf<T> {
    static constexpr const auto& WIRE = T::WIRE;
};

// A type that states its wire schema.
template <typename T>
concept Record = requires {
    std::tuple_size<std::remove_cvref_t<decltype(SchemaOf<T>::WIRE.members)>>::value;
};

// One whose schema names an operation and that states what its ok response carries: a Request
// alternative.
template <typename T>
concept Operation = Record<T> && !T::WIRE.op.empty() && Record<typename T::Reply>;

template <Record T>
inline constexpr std::size_t MEMBER_COUNT =
    std::tuple_size_v<std::remove_cvref_t<decltype(SchemaOf<T>::WIRE.members)>>;

// The members' names in wire order.
template <Record T>
inline constexpr std::array<std::string_view, MEMBER_COUNT<T>> MEMBER_NAMES = std::apply(
    [](const auto&... member) {
        return std::array<std::string_view, MEMBER_COUNT<T>>{member.name...};
    },
    SchemaOf<T>::WIRE.members);

// Calls `visit(name, value)` for each member of `record` in wire order.
template <typename T, typename Visit> void for_each_member(T& record, Visit visit) {
    std::apply([&](const auto&... member) { (visit(member.name, record.*member.field), ...); },
               SchemaOf<std::remove_const_t<T>>::WIRE.members);
}

template <Record T> TextResult<void> check_rules(const T& record);

// A member's own rule, then the rules of the records it holds, so that a record inside another
// is always checked whole, whatever rule the outer record names for it.
template <typename Value, typename Rule>
TextResult<void> check_member(const Value& value, const Rule& rule) {
    VEMLOX_RETURN_IF_ERROR(rule(value));
    if constexpr (Record<Value>) {
        return check_rules(value);
    } else if constexpr (requires { requires Record<typename Value::value_type>; }) {
        for (const auto& element : value) {
            VEMLOX_RETURN_IF_ERROR(check_rules(element));
        }
    }
    return {};
}

// The members' value rules in wire order; the first failure ends the check. For SetMachineStartup
// the fold below expands to
//     (result = check_member(record.name, check_startup_entry_name)) &&
//     (result = check_member(record.enabled, any_value));
template <Record T> TextResult<void> check_rules(const T& record) {
    return std::apply(
        [&](const auto&... member) {
            TextResult<void> result;
            static_cast<void>(((result = check_member(record.*member.field, member.rule)) && ...));
            return result;
        },
        SchemaOf<T>::WIRE.members);
}

// What an operation's ok response gives its caller: nothing for a reply without members, the value
// of its one member otherwise.
template <Record Reply> struct ReplyValue {
    static_assert(MEMBER_COUNT<Reply> == 1, "a reply carries nothing or one member");
    using type = std::remove_cvref_t<decltype(std::declval<const Reply&>().*
                                              std::get<0>(SchemaOf<Reply>::WIRE.members).field)>;
};
template <Record Reply>
requires(MEMBER_COUNT<Reply> == 0) struct ReplyValue<Reply> {
    using type = void;
};
template <Record Reply> using ReplyValueOf = typename ReplyValue<Reply>::type;

namespace detail {
template <typename Found, typename... Rest> struct DistinctReplies { using type = Found; };
template <typename... Found, typename Next, typename... Rest>
struct DistinctReplies<std::variant<Found...>, Next, Rest...> {
    using type =
        typename std::conditional_t<(std::is_same_v<Next, Found> || ...),
                                    DistinctReplies<std::variant<Found...>, Rest...>,
                                    DistinctReplies<std::variant<Found..., Next>, Rest...>>::type;
};
} // namespace detail

// The "op" names of a variant's alternatives, in the order of the alternatives.
template <typename Variant> struct OperationsOf;
template <typename... Alternatives> struct OperationsOf<std::variant<Alternatives...>> {
    static_assert((Operation<Alternatives> && ...),
                  "each alternative states its wire schema and its reply: "
                  "static constexpr auto WIRE = wire::operation(\"op_name\", ...); "
                  "using Reply = reply::...;");
    static constexpr std::array<std::string_view, sizeof...(Alternatives)> NAMES{
        Alternatives::WIRE.op...};
    // Every kind of ok response the operations give, each once, in the order of the alternatives.
    using Replies =
        typename detail::DistinctReplies<std::variant<>, typename Alternatives::Reply...>::type;
};

} // namespace vemlox::wire
