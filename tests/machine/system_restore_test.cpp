#include "machine/system_restore_win.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <string_view>

namespace vemlox::win {
namespace {

// Wine's SRSetRestorePointW is a stub that fails with status 0 and writes no sequence number; that
// the status comes back at all is what the service's own message shows only by chance, as it
// starts from 0 too. (A static import of sfc.dll is refused by the service's import check.)
TEST(SystemRestore, ReachesSetRestorePointWAndGivesBackItsStatus) {
    WinSystemRestore restore;
    RestorePointInfo info{};
    info.event_type = 100;
    info.restore_point_type = 12;
    std::ranges::copy(std::u16string_view(u"Vemlox: test"), info.description);
    StateManagerStatus status{};
    status.status = 0x77777777;

    const auto result = restore.set_restore_point(info, status);

    ASSERT_TRUE(result) << result.error().message();
    const std::uint32_t written = status.status;
    if (!*result) {
        EXPECT_NE(written, 0x77777777u) << "a failed call reports its status";
    }
}

} // namespace
} // namespace vemlox::win
