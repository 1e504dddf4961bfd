#include "actions/restore_point.hpp"

#include "protocol/text_result.hpp"

#include <algorithm>
#include <string>

namespace vemlox {

ActionResult<void> perform(const request::CreateRestorePoint&, SystemRestore& restore) {
    RestorePointInfo info{};
    info.event_type = BEGIN_SYSTEM_CHANGE;
    info.restore_point_type = MODIFY_SETTINGS;
    info.sequence_number = 0;
    std::ranges::copy(RESTORE_POINT_DESCRIPTION, info.description);
    StateManagerStatus status{};

    VEMLOX_ASSIGN_OR_RETURN(auto begun, restore.set_restore_point(info, status));
    if (!begun) {
        if (status.status == SYSTEM_RESTORE_DISABLED) {
            return std::unexpected(ActionError::not_supported());
        }
        return std::unexpected(
            ActionError::os_error("System Restore error " + std::to_string(status.status)));
    }
    // The point exists once the first call succeeded; the closing call only ends the change
    // window, so its failure is not the client's concern.
    info.event_type = END_SYSTEM_CHANGE;
    info.sequence_number = status.sequence_number;
    static_cast<void>(restore.set_restore_point(info, status));
    return {};
}

} // namespace vemlox
