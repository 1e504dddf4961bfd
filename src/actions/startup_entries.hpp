// Switching a machine-wide startup program on or off through its approval value, the way the
// system's own startup settings do, leaving its Run entry untouched.
#pragma once

#include "actions/action_error.hpp"
#include "actions/clock.hpp"
#include "actions/filetime.hpp"
#include "actions/startup_registry.hpp"
#include "protocol/request.hpp"

#include <cstdint>
#include <string_view>

namespace vemlox {

// 02 and eleven zero bytes when enabled; 03, three zero bytes and the FILETIME of the change,
// little-endian, when disabled. A FILETIME before 1970 is recorded as 1970.
[[nodiscard]] ApprovalValue approval_value(bool enabled, std::uint64_t now_filetime);

// Fails with ItemNotFound, writing nothing, unless the machine Run key holds the entry.
[[nodiscard]] ActionResult<void> perform(const request::SetMachineStartup& request,
                                         StartupRegistry& registry, Clock& clock);

} // namespace vemlox
