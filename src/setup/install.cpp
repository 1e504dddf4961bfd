#include "setup/install.hpp"

#include "setup/binary_path_quoting.hpp"
#include "setup/install_dir.hpp"
#include "setup/uninstall.hpp"
#include "win32_shared/names.hpp"
#include "win32_shared/os_error_text.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <array>
#include <string_view>
#include <utility>
#include <vector>

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

// How the install messages word a failed copy; `what` is "service" or the app's file name.
std::string copy_failure(std::string_view what, DWORD error) {
    return "copy " + std::string(what) + ": " + os_error_text(error);
}

// One file to install, open for reading while nobody may write, rename or delete it. Windows lets
// a running executable be renamed, and the download folder belongs to the unelevated user, so any
// of that user's processes could otherwise swap a file in while we wait for the old service to
// stop, and we would install its program as a LocalSystem service or as a caller the service
// trusts. Copying from the handle installs the bytes we opened, whatever the path names by then.
struct Source {
    std::string_view what;
    std::string_view installed_name;
    UniqueFile file;
};

struct Sources {
    std::wstring running_path;
    // The service first, then the app's executables found beside it.
    std::vector<Source> files;
};

[[nodiscard]] std::expected<Source, std::string>
open_source(const std::wstring& path, std::string_view what, std::string_view installed_name) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::unexpected(copy_failure(what, GetLastError()));
    }
    return Source{what, installed_name, std::move(file)};
}

// The protection starts with these opens: a swap between the start of this process and the open
// of its own file is not caught. Asking the loaded image for its file name cannot catch it either,
// because Windows may go on reporting the name an image was loaded under after a rename.
[[nodiscard]] std::expected<Sources, std::string> open_sources() {
    auto running_path = running_executable_path();
    if (!running_path) {
        return std::unexpected(os_error_text(running_path.error()));
    }
    Sources sources{std::move(*running_path), {}};
    auto service = open_source(sources.running_path, "service", SERVICE_EXE_NAME);
    if (!service) {
        return std::unexpected(std::move(service.error()));
    }
    sources.files.push_back(std::move(*service));
    const std::wstring source_folder = parent_folder(sources.running_path);
    if (source_folder.empty()) {
        return sources;
    }
    for (const std::string_view name : std::array{APP_EXE_NAME, CLIENT_EXE_NAME}) {
        const std::wstring path = join_path(source_folder, to_wide(name));
        if (!is_existing_file(path)) {
            continue;
        }
        auto app = open_source(path, name, name);
        if (!app) {
            return std::unexpected(std::move(app.error()));
        }
        sources.files.push_back(std::move(*app));
    }
    return sources;
}

constexpr DWORD COPY_CHUNK_BYTES = 64 * 1024;

// Writes what is left to read from `source` into a new file at `path`.
[[nodiscard]] std::expected<void, DWORD> write_file_from(HANDLE source, const std::wstring& path) {
    const UniqueFile target(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) {
        return std::unexpected(GetLastError());
    }
    std::vector<char> buffer(COPY_CHUNK_BYTES);
    for (;;) {
        DWORD read = 0;
        if (ReadFile(source, buffer.data(), COPY_CHUNK_BYTES, &read, nullptr) == 0) {
            return std::unexpected(GetLastError());
        }
        if (read == 0) {
            return {};
        }
        DWORD written = 0;
        if (WriteFile(target.get(), buffer.data(), read, &written, nullptr) == 0) {
            return std::unexpected(GetLastError());
        }
        if (written != read) {
            return std::unexpected(static_cast<DWORD>(ERROR_WRITE_FAULT));
        }
    }
}

// The bytes go to a file beside the target first and replace the target only once complete: a
// failed copy then leaves the earlier executable (or none) under the name that is registered as
// the service or accepted as a caller, never a truncated one that would later pass for good.
// The partial file is made in the install folder, so it inherits that folder's permissions, and
// the rename within one folder keeps them.
[[nodiscard]] std::expected<void, DWORD> copy_from(HANDLE source, const std::wstring& target) {
    const std::wstring partial = target + L".partial";
    auto copied = write_file_from(source, partial);
    if (copied && MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
        copied = std::unexpected(GetLastError());
    }
    if (!copied) {
        static_cast<void>(DeleteFileW(partial.c_str()));
    }
    return copied;
}

// The service executable under its installed name, and the app's executables opened beside it.
// Run from the install folder itself there is nothing to copy. Takes the sources so that they
// stay unchangeable until the last copy is done, and no longer.
std::expected<void, std::string> copy_executables(Sources sources, const std::wstring& folder) {
    if (same_path(sources.running_path, join_path(folder, to_wide(SERVICE_EXE_NAME)))) {
        return {};
    }
    for (const Source& source : sources.files) {
        const std::wstring target = join_path(folder, to_wide(source.installed_name));
        if (auto copied = copy_from(source.file.get(), target); !copied) {
            return std::unexpected(copy_failure(source.what, copied.error()));
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
    // Before anything else, and above all before the wait for the old service, so that the files
    // cannot be swapped while we wait.
    auto sources = open_sources();
    if (!sources) {
        return std::unexpected(std::move(sources.error()));
    }
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, MANAGER_INSTALL_ACCESS));
    if (!manager) {
        return std::unexpected(run_as_administrator());
    }
    // A running old copy must be stopped before its executable can be overwritten; a first
    // installation has nothing to remove, which is not worth a word.
    static_cast<void>(remove_service(manager.get()));

    const auto folder = install_dir();
    if (!folder) {
        return std::unexpected(folder.error());
    }
    if (auto created = create_folders(*folder); !created) {
        return std::unexpected(os_error_text(created.error()));
    }
    if (auto copied = copy_executables(std::move(*sources), *folder); !copied) {
        return std::unexpected(std::move(copied.error()));
    }
    if (auto started = register_and_start(manager.get(), *folder); !started) {
        return std::unexpected(std::move(started.error()));
    }
    return "Installed and started. Open the app from " + to_utf8(*folder);
}

} // namespace vemlox::win
