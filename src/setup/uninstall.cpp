#include "setup/uninstall.hpp"

#include "actions/filetime.hpp"
#include "setup/install_dir.hpp"
#include "win32_shared/names.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

namespace vemlox::win {

namespace {

constexpr DWORD SERVICE_REMOVAL_ACCESS = DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS;
constexpr int MAX_STATUS_POLLS = 50;
constexpr DWORD POLL_PAUSE_MS = 100;
// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, which the MinGW headers lack.
constexpr DWORD HIGH_RESOLUTION_TIMER = 0x00000002;

// The pause between polls. The default timer resolution can stretch a 100 ms wait noticeably;
// where a high-resolution timer is not available, Sleep does the waiting.
class PollPause {
  public:
    PollPause()
        : timer_(
              CreateWaitableTimerExW(nullptr, nullptr, HIGH_RESOLUTION_TIMER, TIMER_ALL_ACCESS)) {}

    void wait() {
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

  private:
    UniqueHandle timer_;
};

bool is_known_state(DWORD state) {
    return state >= SERVICE_STOPPED && state <= SERVICE_PAUSED;
}

} // namespace

std::expected<void, std::string> remove_service(SC_HANDLE manager) {
    const UniqueServiceHandle service(
        OpenServiceW(manager, to_wide(SERVICE_NAME).c_str(), SERVICE_REMOVAL_ACCESS));
    if (!service) {
        return std::unexpected(scm_failure("open service"));
    }
    // Already stopped or refusing: the polls below find out either way.
    SERVICE_STATUS ignored{};
    static_cast<void>(ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored));

    PollPause pause;
    for (int poll = 0; poll < MAX_STATUS_POLLS; ++poll) {
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                 reinterpret_cast<LPBYTE>(&status), sizeof(status), &needed) == 0) {
            break;
        }
        if (status.dwCurrentState == SERVICE_STOPPED || !is_known_state(status.dwCurrentState)) {
            break;
        }
        pause.wait();
    }

    if (DeleteService(service.get()) == 0) {
        return std::unexpected(scm_failure("delete service"));
    }
    return {};
}

CommandOutcome uninstall_command() {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return std::unexpected(run_as_administrator());
    }
    if (auto removed = remove_service(manager.get()); !removed) {
        return std::unexpected(std::move(removed.error()));
    }
    const auto folder = install_dir();
    if (!folder) {
        return std::unexpected(folder.error());
    }
    return "Service removed. The files in " + to_utf8(*folder) + " can now be deleted.";
}

} // namespace vemlox::win
