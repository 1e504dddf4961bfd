// System Restore's SRSetRestorePointW, as the restore-point operation needs it.
#pragma once

#include "actions/action_error.hpp"

#include <cstdint>

namespace vemlox {

// The two structures of the System Restore interface, byte-packed as it defines them.
#pragma pack(push, 1)
struct RestorePointInfo {
    std::uint32_t event_type = 0;
    std::uint32_t restore_point_type = 0;
    std::int64_t sequence_number = 0;
    char16_t description[256] = {};
};
struct StateManagerStatus {
    std::uint32_t status = 0;
    std::int64_t sequence_number = 0;
};
#pragma pack(pop)
static_assert(sizeof(RestorePointInfo) == 528);
static_assert(sizeof(StateManagerStatus) == 12);

class SystemRestore {
  public:
    virtual ~SystemRestore() = default;

    // One SRSetRestorePointW call: its result (true for success). Fails with NotSupported when
    // the function is not available on this machine.
    [[nodiscard]] virtual ActionResult<bool> set_restore_point(const RestorePointInfo& info,
                                                               StateManagerStatus& status) = 0;
};

} // namespace vemlox
