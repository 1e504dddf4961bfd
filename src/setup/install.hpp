// The "install" command: put the service and the app's executables into the install folder,
// register the service to start with the system, and start it; over an installed service, update
// it in place.
#pragma once

#include "setup/command_outcome.hpp"

namespace vemlox::win {

// Opens the files to install first, so that they cannot be swapped while it works; stages them
// beside their targets and moves them in, stops an installed service (waiting for it), registers
// the service anew or sets its registration again, and starts it. The first failure ends the
// command with its message; the machine is left with a registered service, running unless the
// failure was its start.
[[nodiscard]] CommandOutcome install_command();

} // namespace vemlox::win
