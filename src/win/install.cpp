#include "win/install.hpp"

#include "win/binary_path_quoting.hpp"
#include "win/install_dir.hpp"
#include "win/names.hpp"
#include "win/os_error_text.hpp"
#include "win/paths.hpp"
#include "win/uninstall.hpp"
#include "win/unique_handle.hpp"
#include "win/wide.hpp"

#include <array>

namespace vemlox::win {

namespace {

constexpr DWORD MANAGER_INSTALL_ACCESS = SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE;
constexpr DWORD NEW_SERVICE_ACCESS = SERVICE_CHANGE_CONFIG | SERVICE_START;

// Creates `folder` and any missing parents; a folder that is already there is fine.
std::expected<void, DWORD> create_folders(const std::wstring& folder) {
    if (CreateDirectoryW(folder.c_str(), nullptr) != 0) {
        return {};
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return {};
        }
        return std::unexpected(error);
    }
    if (error != ERROR_PATH_NOT_FOUND) {
        return std::unexpected(error);
    }
    const std::wstring parent = parent_folder(folder);
    if (parent.empty() || parent.size() >= folder.size()) {
        return std::unexpected(error);
    }
    if (auto made = create_folders(parent); !made) {
        return made;
    }
    if (CreateDirectoryW(folder.c_str(), nullptr) == 0 && GetLastError() != ERROR_ALREADY_EXISTS) {
        return std::unexpected(GetLastError());
    }
    return {};
}

std::expected<void, DWORD> copy_file(const std::wstring& from, const std::wstring& to) {
    if (CopyFileExW(from.c_str(), to.c_str(), nullptr, nullptr, nullptr, 0) == 0) {
        return std::unexpected(GetLastError());
    }
    return {};
}

// The service executable under its installed name, and the app's executables found beside it.
// Run from the install folder itself there is nothing to copy.
std::expected<void, std::string> copy_executables(const std::wstring& running_path,
                                                  const std::wstring& folder) {
    const std::wstring target = join_path(folder, to_wide(SERVICE_EXE_NAME));
    if (same_path(running_path, target)) {
        return {};
    }
    if (auto copied = copy_file(running_path, target); !copied) {
        return std::unexpected("copy service: " + os_error_text(copied.error()));
    }
    const std::wstring source_folder = parent_folder(running_path);
    if (source_folder.empty()) {
        return {};
    }
    for (const std::string_view name : std::array{APP_EXE_NAME, CLIENT_EXE_NAME}) {
        const std::wstring source = join_path(source_folder, to_wide(name));
        if (!is_existing_file(source)) {
            continue;
        }
        if (auto copied = copy_file(source, join_path(folder, to_wide(name))); !copied) {
            return std::unexpected("copy " + std::string(name) + ": " +
                                   os_error_text(copied.error()));
        }
    }
    return {};
}

std::expected<void, std::string> register_and_start(SC_HANDLE manager, const std::wstring& folder) {
    const std::wstring binary_path =
        quote_binary_path(join_path(folder, to_wide(SERVICE_EXE_NAME)));
    const UniqueServiceHandle service(CreateServiceW(
        manager, to_wide(SERVICE_NAME).c_str(), to_wide(SERVICE_DISPLAY_NAME).c_str(),
        NEW_SERVICE_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
        binary_path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        return std::unexpected(scm_failure("create service"));
    }
    // The description only helps people reading the services list; the service works without it.
    std::wstring description = to_wide(SERVICE_DESCRIPTION);
    SERVICE_DESCRIPTIONW description_info{description.data()};
    static_cast<void>(
        ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description_info));
    if (StartServiceW(service.get(), 0, nullptr) == 0) {
        return std::unexpected(scm_failure("start service"));
    }
    return {};
}

} // namespace

CommandOutcome install_command() {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, MANAGER_INSTALL_ACCESS));
    if (!manager) {
        return std::unexpected(run_as_administrator());
    }
    // A running old copy must be stopped before its executable can be overwritten; a first
    // installation has nothing to remove, which is not worth a word.
    static_cast<void>(remove_service(manager.get()));

    const auto running_path = running_executable_path();
    if (!running_path) {
        return std::unexpected(os_error_text(running_path.error()));
    }
    const auto folder = install_dir();
    if (!folder) {
        return std::unexpected(folder.error());
    }
    if (auto created = create_folders(*folder); !created) {
        return std::unexpected(os_error_text(created.error()));
    }
    if (auto copied = copy_executables(*running_path, *folder); !copied) {
        return std::unexpected(std::move(copied.error()));
    }
    if (auto started = register_and_start(manager.get(), *folder); !started) {
        return std::unexpected(std::move(started.error()));
    }
    return "Installed and started. Open the app from " + to_utf8(*folder);
}

} // namespace vemlox::win
