// nlohmann/json as the oracle of our reader: the value nlohmann would give for a JsonValue.
#pragma once

#include "protocol/json_value.hpp"

#include <nlohmann/json.hpp>

namespace vemlox {

// A repeated member keeps its last value, as nlohmann does.
inline nlohmann::json to_nlohmann(const JsonValue& value) {
    struct Convert {
        nlohmann::json operator()(std::nullptr_t) const { return nullptr; }
        nlohmann::json operator()(bool v) const { return v; }
        nlohmann::json operator()(std::uint64_t v) const { return v; }
        nlohmann::json operator()(std::int64_t v) const { return v; }
        nlohmann::json operator()(double v) const { return v; }
        nlohmann::json operator()(const std::string& v) const { return v; }
        nlohmann::json operator()(const JsonArray& elements) const {
            auto array = nlohmann::json::array();
            for (const auto& element : elements) {
                array.push_back(to_nlohmann(element));
            }
            return array;
        }
        nlohmann::json operator()(const JsonObject& members) const {
            auto object = nlohmann::json::object();
            for (const auto& [name, member] : members) {
                object[name] = to_nlohmann(member);
            }
            return object;
        }
    };
    return std::visit(Convert{}, value.data);
}

} // namespace vemlox
