// The seven operations wired to the machine's program runner, registry and System Restore.
#pragma once

#include "actions/operations.hpp"
#include "actions/program_runner.hpp"
#include "actions/startup_registry.hpp"
#include "actions/system_restore.hpp"

namespace vemlox {

// Holds references only: the three interfaces must outlive it.
class MachineOperations final : public Operations {
  public:
    MachineOperations(ProgramRunner& runner, StartupRegistry& registry, SystemRestore& restore)
        : runner_(runner), registry_(registry), restore_(restore) {}

    [[nodiscard]] ActionResult<void> set_machine_startup(std::string_view name,
                                                         bool enabled) override;
    [[nodiscard]] ActionResult<void> create_restore_point() override;
    [[nodiscard]] ActionResult<std::vector<std::string>> enable_adapters() override;
    [[nodiscard]] ActionResult<void> disable_adapters(std::span<const std::string> names) override;
    [[nodiscard]] ActionResult<void> renew_ip() override;
    [[nodiscard]] ActionResult<std::vector<DnsSetting>> use_public_dns() override;
    [[nodiscard]] ActionResult<void> restore_dns(std::span<const DnsSetting> settings) override;

  private:
    ProgramRunner& runner_;
    StartupRegistry& registry_;
    SystemRestore& restore_;
};

} // namespace vemlox
