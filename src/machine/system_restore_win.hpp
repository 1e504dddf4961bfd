// System Restore's SRSetRestorePointW, taken from sfc.dll in the system folder when it is called.
#pragma once

#include "actions/system_restore.hpp"

namespace vemlox::win {

// sfc.dll is loaded for each call from the system folder only, never through an import: a copy
// planted beside the service or anywhere on the search path must not be loaded into LocalSystem,
// and a machine without System Restore must still be able to start the service.
class WinSystemRestore final : public SystemRestore {
  public:
    [[nodiscard]] ActionResult<bool> set_restore_point(const RestorePointInfo& info,
                                                       StateManagerStatus& status) override;
};

} // namespace vemlox::win
