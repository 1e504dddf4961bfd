// Which process the client trusts on the other end of the pipe: the running service "vemlox", as
// the Service Control Manager knows it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vemlox::client {

// What the Service Control Manager says of the service "vemlox".
struct ServiceProcess {
    enum class State { NotInstalled, NotRunning, Starting, Running };
    State state = State::NotInstalled;
    std::uint32_t process_id = 0; // meaningful only while starting or running
};

// Nothing when the pipe's server process is the running service; otherwise what was found, as a
// message fragment ending in "nothing was sent".
[[nodiscard]] std::optional<std::string> untrusted_server(std::uint32_t pipe_server_process_id,
                                                          const ServiceProcess& service);

} // namespace vemlox::client
