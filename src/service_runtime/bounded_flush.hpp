// Waiting for a pipe client to take what was written, for a limited time only.
#pragma once

#include "service_runtime/threadpool_timer.hpp"
#include "win32_shared/unique_handle.hpp"

#include <atomic>
#include <windows.h>

namespace vemlox::win {

// FlushFileBuffers on a pipe waits until the client has read everything, and a client that never
// reads would hold the caller for ever. A thread-pool timer cancels the flush once its time is up.
// Flushes must come from the thread that created the object: that is the thread the timer cancels.
class BoundedFlush {
  public:
    BoundedFlush();
    BoundedFlush(const BoundedFlush&) = delete;
    BoundedFlush& operator=(const BoundedFlush&) = delete;

    // False when the timer or the thread handle could not be had; `error()` tells why.
    [[nodiscard]] bool is_ready() const { return timer_ && thread_; }
    [[nodiscard]] DWORD error() const { return error_; }

    // True when the client took everything within `timeout_ms`; a timeout of 0 does not flush.
    [[nodiscard]] bool flush(HANDLE pipe, DWORD timeout_ms);

  private:
    static void CALLBACK cancel_flush(PTP_CALLBACK_INSTANCE instance, PVOID context,
                                      PTP_TIMER timer);

    DWORD error_ = ERROR_SUCCESS;
    UniqueHandle thread_;
    std::atomic<HANDLE> pipe_{nullptr};
    // Last, so that it is closed (and its callbacks have ended) before the rest goes.
    UniqueThreadpoolTimer timer_;
};

} // namespace vemlox::win
