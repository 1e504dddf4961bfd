#include "setup/install.hpp"

#include "protocol/text_result.hpp"
#include "setup/binary_path_quoting.hpp"
#include "setup/executable_update.hpp"
#include "setup/file_replacement.hpp"
#include "setup/install_dir.hpp"
#include "setup/install_folder_security.hpp"
#include "setup/service_control.hpp"
#include "setup/service_registration.hpp"
#include "win32_shared/os_error_text.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"
#include "win32_shared/win32_result.hpp"

#include <array>
#include <string_view>
#include <utility>

namespace vemlox::win {

namespace {

constexpr DWORD MANAGER_INSTALL_ACCESS = SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE;
constexpr std::array<std::string_view, 3> INSTALLED_EXE_NAMES{SERVICE_EXE_NAME, APP_EXE_NAME,
                                                              APP_SHORT_EXE_NAME};

// Creates `folder` and any missing parents; a folder that is already there is fine.
[[nodiscard]] Win32Result<void> create_folders(const std::wstring& folder) {
    if (CreateDirectoryW(folder.c_str(), nullptr) != 0) {
        return {};
    }
    const auto error = static_cast<std::uint32_t>(GetLastError());
    if (error == ERROR_ALREADY_EXISTS) {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return {};
        }
        return std::unexpected(error);
    }
    const std::wstring parent = parent_folder(folder);
    if (error != ERROR_PATH_NOT_FOUND || parent.empty() || parent.size() >= folder.size()) {
        return std::unexpected(error);
    }
    VEMLOX_RETURN_IF_ERROR(create_folders(parent));
    if (CreateDirectoryW(folder.c_str(), nullptr) == 0 && GetLastError() != ERROR_ALREADY_EXISTS) {
        return last_error();
    }
    return {};
}

// The registered service, or none to create. One still marked for deletion after the wait can
// neither be updated nor created anew, which its message says.
[[nodiscard]] TextResult<UniqueServiceHandle> open_service_to_update(SC_HANDLE manager) {
    auto service = open_registered_service(manager);
    if (!service) {
        return std::unexpected(service.error() == ERROR_SERVICE_MARKED_FOR_DELETE
                                   ? "create service: " + os_error_text(service.error())
                                   : scm_failure("create service"));
    }
    return std::move(service).value();
}

// The registration made the same as a new one's, on the service that is there or on a new one.
// The first failure to change the registration that is there starts the service again, stopped
// as it is, before it is reported.
[[nodiscard]] TextResult<UniqueServiceHandle>
register_service(SC_HANDLE manager, UniqueServiceHandle service, const std::wstring& binary_path) {
    if (service) {
        auto registered = set_registration(service.get(), binary_path);
        if (registered) {
            return service;
        }
        if (registered.error() != ERROR_SERVICE_MARKED_FOR_DELETE) {
            start_again(service.get());
            return std::unexpected(scm_failure("create service"));
        }
        // Our own handle would keep the deleted service there for ever.
        service.reset();
    }
    return create_registration(manager, binary_path);
}

} // namespace

// Never deletes the service: at every moment a registration and a complete executable under its
// name remain, so a failure or a kill at any point leaves a service that can run. Until the old
// service has stopped every file can go back; from then on the new files stay, and a failure
// starts the service again with them.
CommandOutcome install_command() {
    // Before anything else, so that the files cannot be swapped while we work.
    VEMLOX_ASSIGN_OR_RETURN(auto sources, open_source_executables());
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, MANAGER_INSTALL_ACCESS));
    if (!manager) {
        return std::unexpected(run_as_administrator());
    }
    // Before any file is touched: a service marked for deletion fails the install.
    VEMLOX_ASSIGN_OR_RETURN(UniqueServiceHandle service, open_service_to_update(manager.get()));
    VEMLOX_ASSIGN_OR_RETURN(const std::wstring folder, install_dir());
    VEMLOX_RETURN_IF_ERROR_MAPPED(os_error_text, create_folders(folder));
    // Found or made, the folder is closed to standard users before anything is written into it.
    VEMLOX_RETURN_IF_ERROR(protect_install_folder(folder));
    restore_interrupted_replacements(folder, INSTALLED_EXE_NAMES);
    delete_leftover_files(folder);
    VEMLOX_ASSIGN_OR_RETURN(ExecutableUpdate update,
                            ExecutableUpdate::stage(std::move(sources), folder));

    // The old service serves until its replacement is in place: Windows lets the executable it
    // runs from be renamed.
    VEMLOX_RETURN_IF_ERROR(update.move_in());
    if (service) {
        if (auto stopped = stop_and_wait(service.get()); !stopped) {
            const std::string not_put_back = update.move_back();
            // A service that reported stopped while its process lingers would otherwise stay
            // stopped; one still stopping or running refuses the start, and nothing changes.
            start_again(service.get());
            return std::unexpected(stop_failure_text(stopped.error()) + not_put_back);
        }
    }
    update.keep();

    const std::wstring binary_path =
        quote_binary_path(join_path(folder, to_wide(SERVICE_EXE_NAME)));
    VEMLOX_ASSIGN_OR_RETURN(service,
                            register_service(manager.get(), std::move(service), binary_path));
    set_optional_registration(service.get());
    VEMLOX_RETURN_IF_ERROR(start_and_wait(service.get()));
    return "Installed and started. Open the app from " + to_utf8(folder);
}

} // namespace vemlox::win
