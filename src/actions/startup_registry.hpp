// The registry as the startup-entry operation needs it.
#pragma once

#include "actions/action_error.hpp"

#include <array>
#include <cstdint>
#include <string_view>

namespace vemlox {

using ApprovalValue = std::array<std::uint8_t, 12>;

class StartupRegistry {
  public:
    virtual ~StartupRegistry() = default;

    // Whether the machine Run key holds a value of that name (any letter case) of a known type.
    // Any failure to open or read counts as "no".
    [[nodiscard]] virtual bool run_entry_exists(std::string_view name) = 0;
    // Writes the REG_BINARY approval value under StartupApproved\Run, creating the key if needed.
    // Fails with OsError and the OS error text.
    [[nodiscard]] virtual ActionResult<void> write_approval(std::string_view name,
                                                            const ApprovalValue& value) = 0;
};

} // namespace vemlox
