#include "server_check.hpp"

#include "win32_shared/product_names.hpp"

namespace vemlox::client {

std::optional<std::string> untrusted_server(std::uint32_t pipe_server_process_id,
                                            const ServiceProcess& service) {
    const std::string served_by = std::string(win::PIPE_NAME) + " is served by process " +
                                  std::to_string(pipe_server_process_id);
    switch (service.state) {
    case ServiceProcess::State::NotInstalled:
        return served_by + ", but the Vemlox service is not installed; nothing was sent";
    case ServiceProcess::State::NotRunning:
        return served_by + ", but the Vemlox service is not running; nothing was sent";
    case ServiceProcess::State::Starting:
    case ServiceProcess::State::Running:
        break;
    }
    if (service.process_id != pipe_server_process_id) {
        return served_by + " while the Vemlox service is process " +
               std::to_string(service.process_id) + "; nothing was sent";
    }
    return std::nullopt;
}

} // namespace vemlox::client
