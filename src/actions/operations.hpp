// The seven operations a request can ask for, as the dispatcher calls them, and their wiring to the
// machine's program runner, registry, clock and System Restore. Each runs on the calling thread and
// returns its payload or one ActionError.
#pragma once

#include "actions/action_error.hpp"
#include "actions/clock.hpp"
#include "actions/program_runner.hpp"
#include "actions/startup_registry.hpp"
#include "actions/system_restore.hpp"
#include "protocol/request.hpp"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vemlox {

class Operations {
  public:
    virtual ~Operations() = default;

    [[nodiscard]] virtual ActionResult<void> set_machine_startup(std::string_view name,
                                                                 bool enabled) = 0;
    [[nodiscard]] virtual ActionResult<void> create_restore_point() = 0;
    // The names of the adapters switched on, in that order.
    [[nodiscard]] virtual ActionResult<std::vector<std::string>> enable_adapters() = 0;
    [[nodiscard]] virtual ActionResult<void>
    disable_adapters(std::span<const std::string> names) = 0;
    [[nodiscard]] virtual ActionResult<void> renew_ip() = 0;
    // Each switched adapter with the servers it had before, in processing order.
    [[nodiscard]] virtual ActionResult<std::vector<DnsSetting>> use_public_dns() = 0;
    [[nodiscard]] virtual ActionResult<void> restore_dns(std::span<const DnsSetting> settings) = 0;
};

// Holds references only: the four interfaces must outlive it.
class MachineOperations final : public Operations {
  public:
    MachineOperations(ProgramRunner& runner, StartupRegistry& registry, Clock& clock,
                      SystemRestore& restore)
        : runner_(runner), registry_(registry), clock_(clock), restore_(restore) {}

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
    Clock& clock_;
    SystemRestore& restore_;
};

} // namespace vemlox
