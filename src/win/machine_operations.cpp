#include "win/machine_operations.hpp"

#include "actions/machine_operations.hpp"
#include "win/program_runner_win.hpp"
#include "win/startup_registry_win.hpp"
#include "win/system_restore_win.hpp"

namespace vemlox::win {

namespace {

// Owns the three real interfaces, so the operations that refer to them can never outlive them.
class OwningMachineOperations final : public Operations {
  public:
    explicit OwningMachineOperations(const std::wstring& own_folder)
        : runner_(own_folder), operations_(runner_, registry_, restore_) {}

    ActionResult<void> set_machine_startup(std::string_view name, bool enabled) override {
        return operations_.set_machine_startup(name, enabled);
    }
    ActionResult<void> create_restore_point() override {
        return operations_.create_restore_point();
    }
    ActionResult<std::vector<std::string>> enable_adapters() override {
        return operations_.enable_adapters();
    }
    ActionResult<void> disable_adapters(std::span<const std::string> names) override {
        return operations_.disable_adapters(names);
    }
    ActionResult<void> renew_ip() override { return operations_.renew_ip(); }
    ActionResult<std::vector<DnsSetting>> use_public_dns() override {
        return operations_.use_public_dns();
    }
    ActionResult<void> restore_dns(std::span<const DnsSetting> settings) override {
        return operations_.restore_dns(settings);
    }

  private:
    WinProgramRunner runner_;
    WinStartupRegistry registry_;
    WinSystemRestore restore_;
    MachineOperations operations_;
};

} // namespace

std::unique_ptr<Operations> make_machine_operations(const std::wstring& own_folder) {
    return std::make_unique<OwningMachineOperations>(own_folder);
}

} // namespace vemlox::win
