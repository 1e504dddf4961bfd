#include "setup/uninstall.hpp"

#include "setup/command_outcome.hpp"
#include "setup/install_dir.hpp"
#include "setup/service_control.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

namespace vemlox::win {

namespace {

constexpr DWORD SERVICE_REMOVAL_ACCESS = DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS;

UninstallFailure failed(std::string message) {
    return {std::move(message), 1};
}

} // namespace

UninstallOutcome uninstall_command() {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return std::unexpected(failed(run_as_administrator()));
    }
    const UniqueServiceHandle service(
        OpenServiceW(manager.get(), to_wide(SERVICE_NAME).c_str(), SERVICE_REMOVAL_ACCESS));
    if (!service) {
        return std::unexpected(failed(scm_failure("open service")));
    }
    // A refused stop leaves everything as it was, to be tried again. A stop that has not come
    // after the whole wait does not hold up the deletion: the service goes once it stops.
    const auto stopped = stop_and_wait(service.get());
    if (!stopped && stopped.error() == StopFailure::Refused) {
        return std::unexpected(failed(stop_failure_text(StopFailure::Refused)));
    }
    if (DeleteService(service.get()) == 0) {
        return std::unexpected(failed(scm_failure("delete service")));
    }
    return removed_service_report(stopped.has_value(), install_dir());
}

UninstallOutcome removed_service_report(bool has_stopped, const TextResult<std::wstring>& folder) {
    if (!folder) {
        return std::unexpected(failed(folder.error()));
    }
    if (!has_stopped) {
        return std::unexpected(UninstallFailure{
            "Service removed, but it is still running: it goes once it stops. The files in " +
                to_utf8(*folder) + " are in use until then.",
            EXIT_REMOVED_STILL_RUNNING});
    }
    return "Service removed. The files in " + to_utf8(*folder) + " can now be deleted.";
}

} // namespace vemlox::win
