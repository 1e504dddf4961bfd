#include "protocol/request.hpp"

#include "protocol/wire_names.hpp"

namespace vemlox {

std::string_view op_name(const Request& request) {
    return OP_NAMES[request.index()];
}

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

} // namespace vemlox
