#include "win32_shared/service_query.hpp"

namespace vemlox::win {

Win32Result<SERVICE_STATUS_PROCESS> query_service_status(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status),
                             sizeof(status), &needed) == 0) {
        return last_error();
    }
    return status;
}

} // namespace vemlox::win
