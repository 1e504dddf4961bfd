// The "install" command: put the service and the app's executables into the install folder,
// register the service to start with the system, and start it.
#pragma once

#include "setup/command_outcome.hpp"

namespace vemlox::win {

// Opens the files to install first, so that they cannot be swapped while it waits; then removes
// any earlier registration (silently), copies, registers, describes and starts. The first failure
// ends the command with its message; what was done stays done.
[[nodiscard]] CommandOutcome install_command();

} // namespace vemlox::win
