#include "win32_shared/bounded_io.hpp"

#include <algorithm>

namespace vemlox::win {

namespace {

DWORD size_of(std::size_t bytes) {
    return static_cast<DWORD>(std::min<std::size_t>(bytes, MAXDWORD));
}

// `started` is what ReadFile or WriteFile returned for `overlapped`. The OVERLAPPED lives on the
// caller's frame and must not go before the operation is over, so its (possibly cancelled) end is
// always waited for.
Win32Result<std::uint32_t> wait_for_completion(HANDLE handle, OVERLAPPED& overlapped, BOOL started,
                                               std::uint32_t timeout_ms, HANDLE stop) {
    if (started == 0 && GetLastError() != ERROR_IO_PENDING) {
        return last_error();
    }
    const HANDLE events[] = {overlapped.hEvent, stop};
    const DWORD woke = WaitForMultipleObjects(stop == nullptr ? 1 : 2, events, FALSE, timeout_ms);
    DWORD reason = ERROR_SUCCESS; // why the operation was cancelled, if it was
    if (woke != WAIT_OBJECT_0 && CancelIoEx(handle, &overlapped) != 0) {
        reason = woke == WAIT_OBJECT_0 + 1 ? ERROR_CANCELLED : WAIT_TIMEOUT;
    }
    DWORD moved = 0;
    if (GetOverlappedResult(handle, &overlapped, &moved, TRUE) == 0) {
        const DWORD error = GetLastError();
        return std::unexpected(reason != ERROR_SUCCESS && error == ERROR_OPERATION_ABORTED ? reason
                                                                                           : error);
    }
    return moved;
}

} // namespace

Win32Result<std::uint32_t> read_bounded(HANDLE handle, HANDLE event, std::span<char> buffer,
                                        std::uint32_t timeout_ms, HANDLE stop) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    const BOOL started =
        ReadFile(handle, buffer.data(), size_of(buffer.size()), nullptr, &overlapped);
    return wait_for_completion(handle, overlapped, started, timeout_ms, stop);
}

Win32Result<std::uint32_t> write_bounded(HANDLE handle, HANDLE event, std::span<const char> bytes,
                                         std::uint32_t timeout_ms, HANDLE stop) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    const BOOL started =
        WriteFile(handle, bytes.data(), size_of(bytes.size()), nullptr, &overlapped);
    return wait_for_completion(handle, overlapped, started, timeout_ms, stop);
}

} // namespace vemlox::win
