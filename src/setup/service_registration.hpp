// The service's registration with the Service Control Manager: every value install sets, set on
// a new registration or again on the one that is there.
#pragma once

#include "protocol/text_result.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/win32_result.hpp"

#include <string>
#include <windows.h>

namespace vemlox::win {

// What install does with the service: change its configuration, start, stop and follow it.
inline constexpr DWORD INSTALL_SERVICE_ACCESS =
    SERVICE_CHANGE_CONFIG | SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS;

// The registered service opened for install, or an empty handle when there is none. A service
// that was deleted while another program holds a handle to it (the Services console, a monitoring
// agent) stays registered, marked for deletion, until that handle closes, and can then only be
// created anew: it is waited for a few seconds, without a handle of ours, and then the failure is
// ERROR_SERVICE_MARKED_FOR_DELETE.
[[nodiscard]] Win32Result<UniqueServiceHandle> open_registered_service(SC_HANDLE manager);

// Creates the service with `binary_path` (quoted already) and every other value of the
// registration. A service of the name that is marked for deletion is gone only once its last
// handle is closed, so its deletion is waited for a few seconds. Fails with "create service: "
// and the SCM error text.
[[nodiscard]] TextResult<UniqueServiceHandle> create_registration(SC_HANDLE manager,
                                                                  const std::wstring& binary_path);

// Sets every value of the registration again on the service that is there, as a new one would
// have them. Fails with the Windows error: ERROR_SERVICE_MARKED_FOR_DELETE for a service that was
// deleted while someone still holds a handle to it.
[[nodiscard]] Win32Result<void> set_registration(SC_HANDLE service,
                                                 const std::wstring& binary_path);

// The description, the recovery actions and no delayed start: best effort, as the service works
// without them.
void set_optional_registration(SC_HANDLE service);

} // namespace vemlox::win
