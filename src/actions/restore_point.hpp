// Creating a System Restore point before the application's fixes.
#pragma once

#include "actions/action_error.hpp"
#include "actions/system_restore.hpp"
#include "protocol/request.hpp"

#include <cstdint>
#include <string_view>

namespace vemlox {

inline constexpr std::u16string_view RESTORE_POINT_DESCRIPTION = u"Vemlox: before fixes";

inline constexpr std::uint32_t BEGIN_SYSTEM_CHANGE = 100;
inline constexpr std::uint32_t END_SYSTEM_CHANGE = 101;
inline constexpr std::uint32_t MODIFY_SETTINGS = 12;
inline constexpr std::uint32_t SYSTEM_RESTORE_DISABLED = 1058; // ERROR_SERVICE_DISABLED

// One begin-and-end pair of calls. Only the first call can fail the action: status 1058 (System
// Restore switched off) is NotSupported, any other status OsError "System Restore error N".
[[nodiscard]] ActionResult<void> perform(const request::CreateRestorePoint&,
                                         SystemRestore& restore);

} // namespace vemlox
