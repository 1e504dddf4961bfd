// The "uninstall" command: the service taken out of the Service Control Manager, its files left.
#pragma once

#include "setup/command_outcome.hpp"

namespace vemlox::win {

// Deletes no files; the success message names the folder that can now be emptied.
[[nodiscard]] CommandOutcome uninstall_command();

} // namespace vemlox::win
