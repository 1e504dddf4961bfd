#include "setup/service_registration.hpp"

#include "setup/command_outcome.hpp"
#include "setup/service_status.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/wide.hpp"

#include <array>

namespace vemlox::win {

namespace {

// About five seconds for an earlier registration to be gone.
constexpr int MAX_CREATE_ATTEMPTS = 50;
// About five seconds for a service marked for deletion to be let go by whoever holds it.
constexpr int MAX_MARKED_POLLS = 50;
constexpr std::array<DWORD, 2> RESTART_DELAYS_MS{10000, 60000};
constexpr DWORD FAILURE_COUNT_RESET_SECONDS = 24 * 60 * 60;
// The account's name as a new registration without an account gets it; it has no password, and
// any given is ignored.
constexpr wchar_t LOCAL_SYSTEM_ACCOUNT[] = L"LocalSystem";
// An empty group name is no group; an empty list (ending in two NULs) is no dependency. Null
// would keep what the registration has. (The registry then holds an empty Group value where a new
// registration has none; the Service Control Manager reports no group either way.)
constexpr wchar_t NO_LOAD_ORDER_GROUP[] = L"";
constexpr wchar_t NO_DEPENDENCIES[] = L"\0";

// Restart after 10 s, again after 60 s, then leave it stopped; a day without a failure starts
// the count over. A stop with a nonzero exit code counts as a failure as well as a crash does.
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

// Whether the service was deleted while a handle to it is still open somewhere: a change of its
// configuration is then refused with ERROR_SERVICE_MARKED_FOR_DELETE. This one changes nothing
// (every value SERVICE_NO_CHANGE or null).
[[nodiscard]] Win32Result<bool> is_marked_for_deletion(SC_HANDLE service) {
    if (ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != 0) {
        return false;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_MARKED_FOR_DELETE) {
        return true;
    }
    return std::unexpected(static_cast<std::uint32_t>(error));
}

} // namespace

Win32Result<UniqueServiceHandle> open_registered_service(SC_HANDLE manager) {
    const std::wstring name = to_wide(SERVICE_NAME);
    PollPause pause;
    for (int attempt = 1;; ++attempt) {
        UniqueServiceHandle service(OpenServiceW(manager, name.c_str(), INSTALL_SERVICE_ACCESS));
        if (!service) {
            // Windows may refuse to open a marked service; Wine opens it.
            const DWORD error = GetLastError();
            if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
                return service;
            }
            if (error != ERROR_SERVICE_MARKED_FOR_DELETE) {
                return std::unexpected(static_cast<std::uint32_t>(error));
            }
        } else {
            VEMLOX_ASSIGN_OR_RETURN(const bool marked, is_marked_for_deletion(service.get()));
            if (!marked) {
                return service;
            }
        }
        if (attempt == MAX_MARKED_POLLS) {
            return std::unexpected(static_cast<std::uint32_t>(ERROR_SERVICE_MARKED_FOR_DELETE));
        }
        // Our own handle would keep the service there as well.
        service.reset();
        pause.wait();
    }
}

TextResult<UniqueServiceHandle> create_registration(SC_HANDLE manager,
                                                    const std::wstring& binary_path) {
    const std::wstring name = to_wide(SERVICE_NAME);
    const std::wstring display_name = to_wide(SERVICE_DISPLAY_NAME);
    UniqueServiceHandle service;
    PollPause pause;
    for (int attempt = 0; attempt < MAX_CREATE_ATTEMPTS; ++attempt) {
        service.reset(CreateServiceW(manager, name.c_str(), display_name.c_str(),
                                     INSTALL_SERVICE_ACCESS, SERVICE_WIN32_OWN_PROCESS,
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
    return service;
}

Win32Result<void> set_registration(SC_HANDLE service, const std::wstring& binary_path) {
    const std::wstring display_name = to_wide(SERVICE_DISPLAY_NAME);
    if (ChangeServiceConfigW(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                             SERVICE_ERROR_NORMAL, binary_path.c_str(), NO_LOAD_ORDER_GROUP,
                             nullptr, NO_DEPENDENCIES, LOCAL_SYSTEM_ACCOUNT, L"",
                             display_name.c_str()) == 0) {
        return last_error();
    }
    return {};
}

// Windows 8 and later have the delayed start, which an earlier version or an administrator may
// have turned on; Wine 8 refuses the level, which changes nothing.
void set_optional_registration(SC_HANDLE service) {
    std::wstring description = to_wide(SERVICE_DESCRIPTION);
    SERVICE_DESCRIPTIONW description_info{description.data()};
    static_cast<void>(
        ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description_info));
    set_recovery(service);
    SERVICE_DELAYED_AUTO_START_INFO not_delayed{FALSE};
    static_cast<void>(
        ChangeServiceConfig2W(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &not_delayed));
}

} // namespace vemlox::win
