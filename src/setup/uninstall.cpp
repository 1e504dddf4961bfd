#include "setup/uninstall.hpp"

#include "protocol/text_result.hpp"
#include "setup/install_dir.hpp"
#include "setup/service_removal.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

namespace vemlox::win {

CommandOutcome uninstall_command() {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return std::unexpected(run_as_administrator());
    }
    VEMLOX_RETURN_IF_ERROR(remove_service(manager.get()));
    VEMLOX_ASSIGN_OR_RETURN(const std::wstring folder, install_dir());
    return "Service removed. The files in " + to_utf8(folder) + " can now be deleted.";
}

} // namespace vemlox::win
