// Running one fixed PowerShell script: the program, its arguments, and how its end becomes a
// result.
#pragma once

#include "actions/action_error.hpp"
#include "actions/program_runner.hpp"

#include <span>
#include <string>
#include <string_view>

namespace vemlox {

inline constexpr std::string_view POWERSHELL_PROGRAM = "powershell.exe";

// Runs `script` as one -Command argument. Request values must reach the script only through
// `environment`, never through its text. Returns standard output's bytes unchanged when the script
// ends with exit code 0; otherwise OsError with standard error, decoded and trimmed. Errors of the
// runner itself are returned as they are.
[[nodiscard]] ActionResult<std::string>
run_powershell(ProgramRunner& runner, std::string_view script,
               std::span<const EnvironmentPair> environment);

} // namespace vemlox
