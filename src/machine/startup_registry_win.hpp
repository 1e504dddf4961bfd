// The machine's Run key and its StartupApproved\Run approval values in the registry.
#pragma once

#include "actions/startup_registry.hpp"

#include <string>
#include <string_view>

namespace vemlox::win {

inline constexpr std::wstring_view RUN_KEY = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::wstring_view APPROVAL_KEY =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

// Both keys under HKEY_LOCAL_MACHINE, in the registry view of our own bitness: no view flag.
class WinStartupRegistry final : public StartupRegistry {
  public:
    // Other keys than the machine's own are for tests.
    explicit WinStartupRegistry(std::wstring run_key = std::wstring(RUN_KEY),
                                std::wstring approval_key = std::wstring(APPROVAL_KEY))
        : run_key_(std::move(run_key)), approval_key_(std::move(approval_key)) {}

    [[nodiscard]] bool run_entry_exists(std::string_view name) override;
    [[nodiscard]] ActionResult<void> write_approval(std::string_view name,
                                                    const ApprovalValue& value) override;

  private:
    std::wstring run_key_;
    std::wstring approval_key_;
};

} // namespace vemlox::win
