// Renewing the DHCP leases of the machine's adapters with the IP configuration tool.
#pragma once

#include "actions/action_error.hpp"
#include "actions/program_runner.hpp"
#include "protocol/request.hpp"

#include <string_view>

namespace vemlox {

inline constexpr std::string_view IPCONFIG_PROGRAM = "ipconfig.exe";

// Succeeds once the tool has run, whatever it reported; fails only when it could not be run.
[[nodiscard]] ActionResult<void> perform(const request::RenewIp&, ProgramRunner& runner);

} // namespace vemlox
