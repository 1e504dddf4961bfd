#include "actions/startup_entries.hpp"

#include <algorithm>
#include <string>

namespace vemlox {

ApprovalValue approval_value(bool enabled, std::uint64_t now_filetime) {
    ApprovalValue value{};
    if (enabled) {
        value[0] = 0x02;
        return value;
    }
    value[0] = 0x03;
    const std::uint64_t time = std::max(now_filetime, UNIX_EPOCH_FILETIME);
    for (std::size_t i = 0; i < 8; ++i) {
        value[4 + i] = static_cast<std::uint8_t>(time >> (8 * i));
    }
    return value;
}

ActionResult<void> perform(const request::SetMachineStartup& request, StartupRegistry& registry,
                           Clock& clock) {
    const std::string& name = request.name;
    const bool enabled = request.enabled;
    // Only programs the machine already starts may be switched. Without this check any client
    // could leave approval values behind for names that a program installed later would pick up.
    if (!registry.run_entry_exists(name)) {
        return std::unexpected(ActionError::item_not_found(std::string(name)));
    }
    const std::uint64_t now = enabled ? 0 : clock.now_filetime();
    return registry.write_approval(name, approval_value(enabled, now));
}

} // namespace vemlox
