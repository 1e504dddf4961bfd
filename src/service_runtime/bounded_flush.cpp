#include "service_runtime/bounded_flush.hpp"

#include "actions/filetime.hpp"

#include <cstdint>

namespace vemlox::win {

namespace {

// A cancel that lands just before the flush has started finds nothing to cancel; the timer keeps
// firing at this period until the flush has returned, so the next one catches it.
constexpr DWORD CANCEL_RETRY_PERIOD_MS = 50;

} // namespace

BoundedFlush::BoundedFlush() : thread_(OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId())) {
    if (!thread_) {
        error_ = GetLastError();
        return;
    }
    timer_.reset(CreateThreadpoolTimer(&BoundedFlush::cancel_flush, this, nullptr));
    if (!timer_) {
        error_ = GetLastError();
    }
}

bool BoundedFlush::flush(HANDLE pipe, DWORD timeout_ms) {
    if (timeout_ms == 0 || !is_ready()) {
        return false;
    }
    pipe_.store(pipe);
    const auto due_bits = static_cast<std::uint64_t>(relative_due_time(timeout_ms));
    FILETIME due_time{static_cast<DWORD>(due_bits & 0xFFFFFFFFu),
                      static_cast<DWORD>(due_bits >> 32)};
    SetThreadpoolTimer(timer_.get(), &due_time, CANCEL_RETRY_PERIOD_MS, 0);
    const BOOL flushed = FlushFileBuffers(pipe);
    // No cancel may outlive this flush: a late one would hit whatever this thread does next.
    SetThreadpoolTimer(timer_.get(), nullptr, 0, 0);
    WaitForThreadpoolTimerCallbacks(timer_.get(), TRUE);
    pipe_.store(nullptr);
    return flushed != 0;
}

void CALLBACK BoundedFlush::cancel_flush(PTP_CALLBACK_INSTANCE, PVOID context, PTP_TIMER) {
    auto* self = static_cast<BoundedFlush*>(context);
    // Windows cancels a flush through the thread that waits in it; the handle-wide cancel also
    // covers a flush the system treats as ordinary I/O on the overlapped pipe handle.
    CancelSynchronousIo(self->thread_.get());
    const HANDLE pipe = self->pipe_.load();
    if (pipe != nullptr) {
        CancelIoEx(pipe, nullptr);
    }
}

} // namespace vemlox::win
