// This machine as the actions see it: the real process runner, registry, clock and System
// Restore.
#pragma once

#include "actions/machine_access.hpp"
#include "machine/clock_win.hpp"
#include "machine/program_runner_win.hpp"
#include "machine/startup_registry_win.hpp"
#include "machine/system_restore_win.hpp"

#include <chrono>
#include <string>

namespace vemlox::win {

// How long PowerShell or the IP configuration tool may run before it is ended and its operation
// fails. Far above what any of our scripts or a renewal needs (renewing without a reachable DHCP
// server, the slowest case, takes about a minute an adapter), and below the five minutes a client
// waits by default for an answer, so that a stuck program still gets the app an answer.
inline constexpr std::chrono::seconds PROGRAM_TIME_LIMIT{240};

// Owns the four real interfaces. Neither copied nor moved, since access() hands out references
// into it.
class Machine {
  public:
    // `own_folder` is the folder of the running service executable, where programs are looked
    // up first.
    explicit Machine(std::wstring own_folder)
        : runner_(std::move(own_folder), PROGRAM_TIME_LIMIT) {}
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    [[nodiscard]] MachineAccess access() { return {runner_, registry_, clock_, restore_}; }

  private:
    WinProgramRunner runner_;
    WinStartupRegistry registry_;
    WinClock clock_;
    WinSystemRestore restore_;
};

} // namespace vemlox::win
