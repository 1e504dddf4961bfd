#include "request_line.hpp"

#include "protocol/ipv4.hpp"
#include "protocol/wire_names.hpp"

#include <concepts>
#include <nlohmann/json.hpp>

namespace vemlox::client {

namespace {

using nlohmann::ordered_json;

// One `to_json` for each type a member may have; a member of any other type does not compile.

ordered_json to_json(const std::string& text) {
    return text;
}

// Exactly bool: nothing that merely converts to it.
template <std::same_as<bool> Flag> ordered_json to_json(Flag flag) {
    return flag;
}

ordered_json to_json(const Ipv4Address& address) {
    return format_ipv4(address);
}

template <wire::Record Record> ordered_json to_json(const Record& record);

template <typename Element> ordered_json to_json(const std::vector<Element>& elements) {
    ordered_json list = ordered_json::array();
    for (const Element& element : elements) {
        list.push_back(to_json(element));
    }
    return list;
}

// The members in wire order.
template <wire::Record Record> void add_members(ordered_json& object, const Record& record) {
    wire::for_each_member(record, [&object](std::string_view name, const auto& value) {
        object[name] = to_json(value);
    });
}

template <wire::Record Record> ordered_json to_json(const Record& record) {
    ordered_json object = ordered_json::object();
    add_members(object, record);
    return object;
}

} // namespace

std::string encode_request(const Request& request) {
    ordered_json object;
    std::visit(
        [&object]<typename Operation>(const Operation& operation) {
            object[TAG_NAME] = std::string(Operation::WIRE.op);
            add_members(object, operation);
        },
        request);
    return object.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

} // namespace vemlox::client
