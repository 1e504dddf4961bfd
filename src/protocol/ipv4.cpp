#include "protocol/ipv4.hpp"

namespace vemlox {

namespace {

constexpr std::size_t MAX_IPV4_TEXT = 15;

// One octet: one to three digits, no leading zero unless it is "0" itself, at most 255.
std::optional<std::uint8_t> parse_octet(std::string_view text) {
    if (text.empty() || text.size() > 3 || (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

} // namespace

std::optional<Ipv4Address> parse_ipv4(std::string_view text) {
    if (text.size() > MAX_IPV4_TEXT) {
        return std::nullopt;
    }
    Ipv4Address address;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t dot = text.find('.');
        const bool last = i == 3;
        if (last != (dot == std::string_view::npos)) {
            return std::nullopt;
        }
        const auto octet = parse_octet(text.substr(0, dot));
        if (!octet) {
            return std::nullopt;
        }
        address.octets[i] = *octet;
        text = last ? std::string_view{} : text.substr(dot + 1);
    }
    return address;
}

std::string format_ipv4(const Ipv4Address& address) {
    std::string text;
    for (std::size_t i = 0; i < address.octets.size(); ++i) {
        if (i != 0) {
            text.push_back('.');
        }
        text += std::to_string(address.octets[i]);
    }
    return text;
}

} // namespace vemlox
