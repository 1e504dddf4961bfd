// This machine as the operations see it: the real process runner, registry, clock and System
// Restore, with the operations wired to them.
#pragma once

#include "actions/operations.hpp"
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

// Owns the four real interfaces beside the operations that refer to them, so neither can outlive
// the other. Neither copied nor moved, since the operations hold references into it.
class Machine {
  public:
    // `own_folder` is the folder of the running service executable, where programs are looked
    // up first.
    explicit Machine(std::wstring own_folder)
        : runner_(std::move(own_folder), PROGRAM_TIME_LIMIT),
          operations_(runner_, registry_, clock_, restore_) {}
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    [[nodiscard]] Operations& operations() { return operations_; }

  private:
    WinProgramRunner runner_;
    WinStartupRegistry registry_;
    WinClock clock_;
    WinSystemRestore restore_;
    MachineOperations operations_;
};

} // namespace vemlox::win
