#include "setup/service_removal.hpp"

#include "setup/command_outcome.hpp"
#include "setup/service_status.hpp"
#include "win32_shared/service_query.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

namespace vemlox::win {

namespace {

constexpr DWORD SERVICE_REMOVAL_ACCESS = DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS;
constexpr int MAX_STATUS_POLLS = 50;
constexpr DWORD PROCESS_EXIT_WAIT_MS = 3000;

bool is_known_state(DWORD state) {
    return state >= SERVICE_STOPPED && state <= SERVICE_PAUSED;
}

} // namespace

TextResult<void> remove_service(SC_HANDLE manager) {
    const UniqueServiceHandle service(
        OpenServiceW(manager, to_wide(SERVICE_NAME).c_str(), SERVICE_REMOVAL_ACCESS));
    if (!service) {
        return std::unexpected(scm_failure("open service"));
    }
    const auto before_stop = query_service_status(service.get());
    const UniqueHandle process =
        before_stop ? open_service_process(*before_stop) : UniqueHandle{};
    // Already stopped or refusing: the polls below find out either way.
    SERVICE_STATUS ignored{};
    static_cast<void>(ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored));

    bool stopped = false;
    PollPause pause;
    for (int poll = 0; poll < MAX_STATUS_POLLS; ++poll) {
        const auto status = query_service_status(service.get());
        if (!status || !is_known_state(status->dwCurrentState)) {
            break;
        }
        if (status->dwCurrentState == SERVICE_STOPPED) {
            stopped = true;
            break;
        }
        pause.wait();
    }
    // Windows may end a service's process at any time after it has reported stopped, so its
    // executable can still be in use for a moment; whoever replaces or deletes it next waits
    // until the process is gone, a few seconds at most.
    if (stopped && process) {
        static_cast<void>(WaitForSingleObject(process.get(), PROCESS_EXIT_WAIT_MS));
    }

    if (DeleteService(service.get()) == 0) {
        return std::unexpected(scm_failure("delete service"));
    }
    return {};
}

} // namespace vemlox::win
