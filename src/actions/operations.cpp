#include "actions/operations.hpp"

#include "actions/dns_servers.hpp"
#include "actions/ip_renewal.hpp"
#include "actions/network_adapters.hpp"
#include "actions/restore_point.hpp"
#include "actions/startup_entries.hpp"

namespace vemlox {

ActionResult<void> MachineOperations::set_machine_startup(std::string_view name, bool enabled) {
    return vemlox::set_machine_startup(registry_, clock_, name, enabled);
}

ActionResult<void> MachineOperations::create_restore_point() {
    return vemlox::create_restore_point(restore_);
}

ActionResult<std::vector<std::string>> MachineOperations::enable_adapters() {
    return vemlox::enable_adapters(runner_);
}

ActionResult<void> MachineOperations::disable_adapters(std::span<const std::string> names) {
    return vemlox::disable_adapters(runner_, names);
}

ActionResult<void> MachineOperations::renew_ip() {
    return vemlox::renew_ip(runner_);
}

ActionResult<std::vector<DnsSetting>> MachineOperations::use_public_dns() {
    return vemlox::use_public_dns(runner_);
}

ActionResult<void> MachineOperations::restore_dns(std::span<const DnsSetting> settings) {
    return vemlox::restore_dns(runner_, settings);
}

} // namespace vemlox
