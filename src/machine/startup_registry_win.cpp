#include "machine/startup_registry_win.hpp"

#include "win32_shared/os_error_text.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <string>
#include <vector>
#include <windows.h>

namespace vemlox::win {

namespace {

constexpr DWORD FIRST_READ_BYTES = 2048;
// Types past REG_QWORD (11) are none the system defines; such a value is not a program entry.
constexpr DWORD FIRST_UNKNOWN_TYPE = 12;

} // namespace

bool WinStartupRegistry::run_entry_exists(std::string_view name) {
    UniqueHkey run_key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, run_key_.c_str(), 0, KEY_READ, run_key.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    const std::wstring value_name = to_wide(name);
    std::vector<BYTE> data(FIRST_READ_BYTES);
    for (;;) {
        DWORD type = REG_NONE;
        auto size = static_cast<DWORD>(data.size());
        const LSTATUS status =
            RegQueryValueExW(run_key.get(), value_name.c_str(), nullptr, &type, data.data(), &size);
        if (status == ERROR_MORE_DATA) {
            // The value may grow again between the two reads; the loop reads until it fits.
            data.resize(size > data.size() ? size : data.size() * 2);
            continue;
        }
        return status == ERROR_SUCCESS && type < FIRST_UNKNOWN_TYPE;
    }
}

ActionResult<void> WinStartupRegistry::write_approval(std::string_view name,
                                                      const ApprovalValue& value) {
    UniqueHkey approval_key;
    const LSTATUS created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, approval_key_.c_str(), 0, nullptr,
                                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                            approval_key.put(), nullptr);
    if (created != ERROR_SUCCESS) {
        return std::unexpected(ActionError::os_error(os_error_text(static_cast<DWORD>(created))));
    }
    const LSTATUS written = RegSetValueExW(approval_key.get(), to_wide(name).c_str(), 0, REG_BINARY,
                                           value.data(), static_cast<DWORD>(value.size()));
    if (written != ERROR_SUCCESS) {
        return std::unexpected(ActionError::os_error(os_error_text(static_cast<DWORD>(written))));
    }
    return {};
}

} // namespace vemlox::win
