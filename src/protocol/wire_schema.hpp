// How a record travels on the wire, stated once in the record's own type as
// `static constexpr auto WIRE`: its members in wire order, each with its name, the field that holds
// it and the rule its value must follow. Decoding, validation and the client's encoding are all
// derived from it, so a record without a schema, or a member without a rule, does not compile.
#pragma once

#include "protocol/text_result.hpp"

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>
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

// A type that states its wire schema.
template <typename T>
concept Record = requires {
    std::tuple_size<decltype(T::WIRE.members)>::value;
};

// One whose schema names an operation: a Request alternative.
template <typename T>
concept Operation = Record<T> && !T::WIRE.op.empty();

template <Record T>
inline constexpr std::size_t MEMBER_COUNT = std::tuple_size_v<decltype(T::WIRE.members)>;

// The members' names in wire order.
template <Record T>
inline constexpr std::array<std::string_view, MEMBER_COUNT<T>> MEMBER_NAMES = std::apply(
    [](const auto&... member) {
        return std::array<std::string_view, MEMBER_COUNT<T>>{member.name...};
    },
    T::WIRE.members);

// Calls `visit(name, value)` for each member of `record` in wire order.
template <typename T, typename Visit> void for_each_member(T& record, Visit visit) {
    std::apply([&](const auto&... member) { (visit(member.name, record.*member.field), ...); },
               std::remove_const_t<T>::WIRE.members);
}

// The members' value rules in wire order; the first failure ends the check. For SetMachineStartup
// the fold below expands to
//     (result = check_startup_entry_name(record.name)) && (result = any_value(record.enabled));
template <Record T> TextResult<void> check_rules(const T& record) {
    return std::apply(
        [&](const auto&... member) {
            TextResult<void> result;
            static_cast<void>(((result = member.rule(record.*member.field)) && ...));
            return result;
        },
        T::WIRE.members);
}

// The "op" names of a variant's alternatives, in the order of the alternatives.
template <typename Variant> struct OperationsOf;
template <typename... Alternatives> struct OperationsOf<std::variant<Alternatives...>> {
    static_assert((Operation<Alternatives> && ...),
                  "each alternative states its wire schema: "
                  "static constexpr auto WIRE = wire::operation(\"op_name\", ...);");
    static constexpr std::array<std::string_view, sizeof...(Alternatives)> NAMES{
        Alternatives::WIRE.op...};
};

} // namespace vemlox::wire
