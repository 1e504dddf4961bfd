// One adapter's DNS servers, as use_public_dns reports them and restore_dns takes them back. Part
// of the client's public interface; its wire schema is stated beside the requests.
#pragma once

#include "protocol/ipv4.hpp"

#include <string>
#include <vector>

namespace vemlox {

// The servers in order of preference; no servers means "obtained automatically".
struct DnsSetting {
    std::string adapter;
    std::vector<Ipv4Address> servers;
    friend bool operator==(const DnsSetting&, const DnsSetting&) = default;
};

} // namespace vemlox
