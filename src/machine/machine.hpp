// This machine as the operations see it: the real process runner, registry and System Restore,
// with the operations wired to them.
#pragma once

#include "actions/operations.hpp"
#include "machine/program_runner_win.hpp"
#include "machine/startup_registry_win.hpp"
#include "machine/system_restore_win.hpp"

#include <string>

namespace vemlox::win {

// Owns the three real interfaces beside the operations that refer to them, so neither can outlive
// the other. Neither copied nor moved, since the operations hold references into it.
class Machine {
  public:
    // `own_folder` is the folder of the running service executable, where programs are looked
    // up first.
    explicit Machine(std::wstring own_folder)
        : runner_(std::move(own_folder)), operations_(runner_, registry_, restore_) {}
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    [[nodiscard]] Operations& operations() { return operations_; }

  private:
    WinProgramRunner runner_;
    WinStartupRegistry registry_;
    WinSystemRestore restore_;
    MachineOperations operations_;
};

} // namespace vemlox::win
