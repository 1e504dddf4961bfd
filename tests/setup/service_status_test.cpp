#include "setup/service_status.hpp"

#include <gtest/gtest.h>

namespace vemlox::win {
namespace {

SERVICE_STATUS_PROCESS status(DWORD state, DWORD process_id) {
    SERVICE_STATUS_PROCESS polled{};
    polled.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    polled.dwCurrentState = state;
    polled.dwProcessId = process_id;
    return polled;
}

// The stop wait opens the process whenever a poll names one; a stopped service's id is no longer
// its process's, and a service still starting may name none yet.
TEST(ServiceStatus, OpensTheProcessOnlyWhileTheStatusNamesIt) {
    const DWORD self = GetCurrentProcessId();
    const struct {
        const char* name;
        SERVICE_STATUS_PROCESS polled;
        bool opened;
    } cases[] = {
        {"running", status(SERVICE_RUNNING, self), true},
        {"stopping", status(SERVICE_STOP_PENDING, self), true},
        {"starting, no process yet", status(SERVICE_START_PENDING, 0), false},
        {"stopped, an id left over", status(SERVICE_STOPPED, self), false},
    };
    for (const auto& each : cases) {
        const UniqueHandle process = open_service_process(each.polled);
        ASSERT_EQ(static_cast<bool>(process), each.opened) << each.name;
        if (process) {
            // Open for waiting on its end, which is all the handle is for (and all it may do).
            EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
                << each.name;
        }
    }
}

} // namespace
} // namespace vemlox::win
