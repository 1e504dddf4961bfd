// The one way the operations start a program (PowerShell, the IP configuration tool).
#pragma once

#include "actions/action_error.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vemlox {

struct EnvironmentPair {
    std::string name;
    std::string value;
};

struct ProgramOutcome {
    std::uint32_t exit_code = 0;
    // Both as UTF-8: console programs write in the OEM code page, which the runner reads.
    std::string standard_output;
    std::string standard_error;
};

class ProgramRunner {
  public:
    virtual ~ProgramRunner() = default;

    // Runs `program` (a file name without folder, looked up only in trusted folders) with
    // `arguments`, its environment being the service's own with `environment` merged in (a pair
    // replaces a variable whose name differs only in case), no window, standard input from the null
    // device, both output streams read completely. Fails with OsError: "program not found", the OS
    // error text of a failed start, read or wait, or, when the runner's time limit runs out (the
    // program and all it started are then ended), "<program> did not finish within <N> s".
    [[nodiscard]] virtual ActionResult<ProgramOutcome>
    run(std::string_view program, std::span<const std::string> arguments,
        std::span<const EnvironmentPair> environment) = 0;
};

} // namespace vemlox
