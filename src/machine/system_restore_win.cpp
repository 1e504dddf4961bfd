#include "machine/system_restore_win.hpp"

#include "win32_shared/unique_handle.hpp"

#include <cstddef>
#include <windows.h>

namespace vemlox::win {

namespace {

// The layout SRSetRestorePointW reads and writes.
static_assert(offsetof(RestorePointInfo, event_type) == 0);
static_assert(offsetof(RestorePointInfo, restore_point_type) == 4);
static_assert(offsetof(RestorePointInfo, sequence_number) == 8);
static_assert(offsetof(RestorePointInfo, description) == 16);
static_assert(offsetof(StateManagerStatus, status) == 0);
static_assert(offsetof(StateManagerStatus, sequence_number) == 4);
static_assert(sizeof(char16_t) == sizeof(wchar_t));

using SetRestorePoint = BOOL(WINAPI*)(RestorePointInfo*, StateManagerStatus*);

} // namespace

ActionResult<bool> WinSystemRestore::set_restore_point(const RestorePointInfo& info,
                                                       StateManagerStatus& status) {
    const UniqueModule sfc(LoadLibraryExW(L"sfc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!sfc) {
        return std::unexpected(ActionError::not_supported());
    }
    const FARPROC found = GetProcAddress(sfc.get(), "SRSetRestorePointW");
    if (found == nullptr) {
        return std::unexpected(ActionError::not_supported());
    }
    // Through void(*)() because GetProcAddress knows no signatures.
    const auto set = reinterpret_cast<SetRestorePoint>(reinterpret_cast<void (*)()>(found));
    RestorePointInfo request = info;
    return set(&request, &status) != FALSE;
}

} // namespace vemlox::win
