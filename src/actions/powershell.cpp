#include "actions/powershell.hpp"

#include "protocol/text_result.hpp"
#include "protocol/utf8.hpp"

#include <vector>

namespace vemlox {

ActionResult<std::string> run_powershell(ProgramRunner& runner, std::string_view script,
                                         std::span<const EnvironmentPair> environment) {
    // No profile and no prompts: a user's profile script must not run inside a privileged
    // process, and nothing may wait for input that never comes.
    const std::vector<std::string> arguments{"-NoProfile", "-NonInteractive", "-ExecutionPolicy",
                                             "Bypass",     "-Command",        std::string(script)};
    VEMLOX_ASSIGN_OR_RETURN(auto finished, runner.run(POWERSHELL_PROGRAM, arguments, environment));
    if (finished.exit_code != 0) {
        // PowerShell writes a failed command's error record to standard error; that text is the
        // only account of the failure the client gets. The exit code adds nothing to it.
        const std::string decoded = to_valid_utf8(finished.standard_error);
        return std::unexpected(ActionError::os_error(std::string(trim_white_space(decoded))));
    }
    return std::move(finished.standard_output);
}

} // namespace vemlox
