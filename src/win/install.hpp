// The "install" command: put the service and the app's executables into the install folder,
// register the service to start with the system, and start it.
#pragma once

#include "win/command_outcome.hpp"

namespace vemlox::win {

// Removes any earlier registration first (silently), then copies, registers, describes and
// starts. The first failure ends the command with its message; what was done stays done.
[[nodiscard]] CommandOutcome install_command();

} // namespace vemlox::win
