#include "setup/service_status.hpp"

#include "actions/filetime.hpp"

namespace vemlox::win {

namespace {

constexpr DWORD POLL_PAUSE_MS = 100;
// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, which the MinGW headers lack.
constexpr DWORD HIGH_RESOLUTION_TIMER = 0x00000002;

} // namespace

UniqueHandle open_service_process(const SERVICE_STATUS_PROCESS& status) {
    if (status.dwProcessId == 0 || status.dwCurrentState == SERVICE_STOPPED) {
        return {};
    }
    return UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
}

// The default timer resolution can stretch a 100 ms wait noticeably; where a high-resolution
// timer is not available, Sleep does the waiting.
PollPause::PollPause()
    : timer_(CreateWaitableTimerExW(nullptr, nullptr, HIGH_RESOLUTION_TIMER, TIMER_ALL_ACCESS)) {}

void PollPause::wait() {
    if (timer_) {
        LARGE_INTEGER due{};
        due.QuadPart = relative_due_time(POLL_PAUSE_MS);
        if (SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE) != 0 &&
            WaitForSingleObject(timer_.get(), INFINITE) == WAIT_OBJECT_0) {
            return;
        }
    }
    Sleep(POLL_PAUSE_MS);
}

} // namespace vemlox::win
