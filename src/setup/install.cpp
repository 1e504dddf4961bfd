#include "setup/install.hpp"

#include "protocol/text_result.hpp"
#include "setup/binary_path_quoting.hpp"
#include "setup/file_replacement.hpp"
#include "setup/install_dir.hpp"
#include "setup/service_removal.hpp"
#include "setup/service_status.hpp"
#include "win32_shared/service_query.hpp"
#include "win32_shared/os_error_text.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <array>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace vemlox::win {

namespace {

constexpr DWORD MANAGER_INSTALL_ACCESS = SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE;
// Starting it also needs the status, to learn whether it came up; the restart on failure needs
// SERVICE_START.
constexpr DWORD NEW_SERVICE_ACCESS = SERVICE_CHANGE_CONFIG | SERVICE_START | SERVICE_QUERY_STATUS;
// About ten seconds of polls for the service to leave the start-pending state.
constexpr int MAX_START_POLLS = 100;
// About five seconds for an earlier registration to be gone.
constexpr int MAX_CREATE_ATTEMPTS = 50;
constexpr std::array<DWORD, 2> RESTART_DELAYS_MS{10000, 60000};
constexpr DWORD FAILURE_COUNT_RESET_SECONDS = 24 * 60 * 60;

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
// of that user's processes could otherwise swap a file in while we work, and we would install its
// program as a LocalSystem service or as a caller the service trusts. Copying from the handle
// installs the bytes we opened, whatever the path names by then.
struct Source {
    std::string_view what;
    std::string_view installed_name;
    UniqueHandle file;
};

// The service first, then the app's executables found beside it.
using Sources = std::vector<Source>;

[[nodiscard]] TextResult<Source> open_source(const std::wstring& path, std::string_view what,
                                             std::string_view installed_name) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::unexpected(copy_failure(what, GetLastError()));
    }
    return Source{what, installed_name, std::move(file)};
}

// The protection starts with these opens: a swap between the start of this process and the open
// of its own file is not caught. Asking the loaded image for its file name cannot catch it either,
// because Windows may go on reporting the name an image was loaded under after a rename.
[[nodiscard]] TextResult<Sources> open_sources() {
    auto running_path = running_executable_path();
    if (!running_path) {
        return std::unexpected(os_error_text(running_path.error()));
    }
    Sources sources;
    VEMLOX_ASSIGN_OR_RETURN(auto service, open_source(*running_path, "service", SERVICE_EXE_NAME));
    sources.push_back(std::move(service));
    const std::wstring source_folder = parent_folder(*running_path);
    if (source_folder.empty()) {
        return sources;
    }
    for (const std::string_view name : std::array{APP_EXE_NAME, APP_SHORT_EXE_NAME}) {
        const std::wstring path = join_path(source_folder, to_wide(name));
        if (!is_existing_file(path)) {
            continue;
        }
        VEMLOX_ASSIGN_OR_RETURN(auto app, open_source(path, name, name));
        sources.push_back(std::move(app));
    }
    return sources;
}

// A copy of one executable staged in the install folder, waiting to replace the installed one.
struct StagedExecutable {
    std::string_view what;
    StagedFile file;
};

struct StagedExecutables {
    std::optional<StagedExecutable> service;
    std::vector<StagedExecutable> apps;
};

// Every file to install, written in full beside its target before anything that runs is touched,
// so that a failure here leaves the installed service as it was, registered and running. Run
// from the install folder itself (by whatever spelling of its path) there is nothing to copy;
// otherwise a file that already is its installed copy is left alone too. Takes the sources so
// that they stay unchangeable until their last byte is read, and no longer.
[[nodiscard]] TextResult<StagedExecutables> stage_executables(Sources sources,
                                                              const std::wstring& folder) {
    StagedExecutables staged;
    for (const Source& source : sources) {
        const bool is_service = source.installed_name == SERVICE_EXE_NAME;
        const std::wstring target = join_path(folder, to_wide(source.installed_name));
        if (is_same_file(source.file.get(), target)) {
            if (is_service) {
                return staged;
            }
            continue;
        }
        auto file = StagedFile::write(source.file.get(), target);
        if (!file) {
            return std::unexpected(copy_failure(source.what, file.error()));
        }
        StagedExecutable executable{source.what, std::move(*file)};
        if (is_service) {
            staged.service.emplace(std::move(executable));
        } else {
            staged.apps.push_back(std::move(executable));
        }
    }
    return staged;
}

[[nodiscard]] TextResult<void> move_in(StagedExecutable& staged) {
    if (auto moved = staged.file.move_in(); !moved) {
        return std::unexpected(copy_failure(staged.what, moved.error()));
    }
    return {};
}

// Restart after 10 s, again after 60 s, then leave it stopped; a day without a failure starts
// the count over. A stop with a nonzero exit code counts as a failure as well as a crash does.
// Best effort, as the description is: the service works without it (and Wine 8 accepts the
// actions without keeping them and refuses the flag).
void set_recovery(SC_HANDLE service) {
    std::array<SC_ACTION, 3> actions{{{SC_ACTION_RESTART, RESTART_DELAYS_MS[0]},
                                      {SC_ACTION_RESTART, RESTART_DELAYS_MS[1]},
                                      {SC_ACTION_NONE, 0}}};
    SERVICE_FAILURE_ACTIONSW failure_actions{FAILURE_COUNT_RESET_SECONDS, nullptr, nullptr,
                                             static_cast<DWORD>(actions.size()), actions.data()};
    static_cast<void>(
        ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure_actions));
    SERVICE_FAILURE_ACTIONS_FLAG on_failed_stop{TRUE};
    static_cast<void>(
        ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &on_failed_stop));
}

std::string failed_start(const SERVICE_STATUS_PROCESS& status) {
    return "start service: " + os_error_text(status.dwWin32ExitCode);
}

// The service reports running once it serves its pipe; one that stops instead has failed, and its
// exit code says why. One still starting when the wait ends is left to it.
[[nodiscard]] TextResult<void> wait_until_started(SC_HANDLE service) {
    PollPause pause;
    for (int poll = 0; poll < MAX_START_POLLS; ++poll) {
        const auto status = query_service_status(service);
        if (!status || status->dwCurrentState != SERVICE_START_PENDING) {
            if (status && status->dwCurrentState == SERVICE_STOPPED) {
                return std::unexpected(failed_start(*status));
            }
            return {};
        }
        pause.wait();
    }
    return {};
}

// Some Service Control Managers (Wine's) wait for the start to end and fail the call when the
// service stopped instead, with a code of their own: the service's exit code tells why, as after
// a start that was accepted. A new registration that never ran shows ERROR_SERVICE_NEVER_STARTED
// (or 0) there, and then the call's failure is all there is to say.
[[nodiscard]] std::string refused_start(SC_HANDLE service) {
    const auto status = query_service_status(service);
    if (status && status->dwCurrentState == SERVICE_STOPPED &&
        status->dwWin32ExitCode != NO_ERROR &&
        status->dwWin32ExitCode != ERROR_SERVICE_NEVER_STARTED) {
        return failed_start(*status);
    }
    return scm_failure("start service");
}

TextResult<void> register_and_start(SC_HANDLE manager, const std::wstring& folder) {
    const std::wstring binary_path =
        quote_binary_path(join_path(folder, to_wide(SERVICE_EXE_NAME)));
    const std::wstring name = to_wide(SERVICE_NAME);
    const std::wstring display_name = to_wide(SERVICE_DISPLAY_NAME);
    // The old registration is gone only once its last handle is closed and its process has
    // ended, and another program (the Services console, say) may hold a handle a moment longer.
    UniqueServiceHandle service;
    PollPause pause;
    for (int attempt = 0; attempt < MAX_CREATE_ATTEMPTS; ++attempt) {
        service.reset(CreateServiceW(manager, name.c_str(), display_name.c_str(),
                                     NEW_SERVICE_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, binary_path.c_str(),
                                     nullptr, nullptr, nullptr, nullptr, nullptr));
        if (service || GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
            break;
        }
        pause.wait();
    }
    if (!service) {
        return std::unexpected(scm_failure("create service"));
    }
    // The description only helps people reading the services list; the service works without it.
    std::wstring description = to_wide(SERVICE_DESCRIPTION);
    SERVICE_DESCRIPTIONW description_info{description.data()};
    static_cast<void>(
        ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description_info));
    set_recovery(service.get());
    if (StartServiceW(service.get(), 0, nullptr) == 0) {
        return std::unexpected(refused_start(service.get()));
    }
    return wait_until_started(service.get());
}

} // namespace

CommandOutcome install_command() {
    // Before anything else, so that the files cannot be swapped while we work.
    VEMLOX_ASSIGN_OR_RETURN(Sources sources, open_sources());
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, MANAGER_INSTALL_ACCESS));
    if (!manager) {
        return std::unexpected(run_as_administrator());
    }
    VEMLOX_ASSIGN_OR_RETURN(const std::wstring folder, install_dir());
    if (auto created = create_folders(folder); !created) {
        return std::unexpected(os_error_text(created.error()));
    }
    delete_set_aside_files(folder);
    VEMLOX_ASSIGN_OR_RETURN(StagedExecutables staged,
                            stage_executables(std::move(sources), folder));
    // The app's executables first, while the old service still serves (an app that is running
    // goes on from its set-aside file); the service's own once the old service's process has
    // ended, or, if it would not end, from under it by the same renames.
    for (StagedExecutable& app : staged.apps) {
        VEMLOX_RETURN_IF_ERROR(move_in(app));
    }
    // A first installation has nothing to remove, which is not worth a word.
    static_cast<void>(remove_service(manager.get()));
    if (staged.service) {
        VEMLOX_RETURN_IF_ERROR(move_in(*staged.service));
    }
    VEMLOX_RETURN_IF_ERROR(register_and_start(manager.get(), folder));
    return "Installed and started. Open the app from " + to_utf8(folder);
}

} // namespace vemlox::win
