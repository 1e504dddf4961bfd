// What the Service Control Manager is told about the service: the one owner of the status handle,
// used by the service thread, the control handler and a checkpoint timer. It makes their reports
// one at a time and never goes back: no stop pending after stopped, no running after a stop.
#pragma once

#include "service_runtime/threadpool_timer.hpp"
#include "win32_shared/win32_result.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <windows.h>

namespace vemlox::win {

// How often the checkpoint of a pending stop moves on while the request in progress is finished.
inline constexpr std::chrono::milliseconds STOP_CHECKPOINT_PERIOD{2000};

class StatusReporter {
  public:
    // Hands one report to the Service Control Manager; false when it was refused, with the
    // reason in GetLastError.
    using Send = std::function<bool(SERVICE_STATUS&)>;

    explicit StatusReporter(std::chrono::milliseconds checkpoint_period = STOP_CHECKPOINT_PERIOD);
    StatusReporter(const StatusReporter&) = delete;
    StatusReporter& operator=(const StatusReporter&) = delete;

    // Reports go to `send` from now on. Until the control handler is registered there is no
    // status handle to report to; a stop asked for before is reported here.
    void attach(Send send);

    // The service is serving: reported unless a stop came first, in which case there is nothing
    // to report and the stop ends the serving at once. Fails with the code of a refused report.
    [[nodiscard]] Win32Result<void> report_running();

    // For the control handler, on a stop or a shutdown: reports the stop as pending, accepting no
    // more controls, and from then on moves its checkpoint on until the stopped report. Never
    // waits: while another thread is making a report, that thread makes this one after it.
    void report_stop_pending();

    // The last report: the service has stopped, with a nonzero `exit_code` when it failed. The
    // process may be ended as soon as it is made, so everything else must be done first.
    void report_stopped(std::uint32_t exit_code);

  private:
    enum class Phase { Starting, Running, StopPending, Stopped };

    // Runs `make_reports` with the lock held, then makes any stop pending report it kept waiting.
    template <typename MakeReports> void with_lock(MakeReports make_reports);
    void make_waiting_stop_report();
    // Only with the lock held.
    void begin_stop_pending();
    // The next report, in the current phase; only with the lock held.
    [[nodiscard]] Win32Result<void> send(DWORD state, DWORD controls_accepted,
                                         std::uint32_t exit_code = NO_ERROR);
    static void CALLBACK advance_checkpoint(PTP_CALLBACK_INSTANCE instance, PVOID context,
                                            PTP_TIMER timer);

    const DWORD checkpoint_period_ms_;
    // A stop the control handler asked for and has not seen reported.
    std::atomic<bool> stop_waiting_{false};
    // Held while a report is made; the rest below is read and written only with it held.
    SRWLOCK lock_ = SRWLOCK_INIT;
    Send send_;
    Phase phase_ = Phase::Starting;
    DWORD checkpoint_ = 0;
    // Last, so that it is closed (and its callbacks have ended) before the rest goes.
    UniqueThreadpoolTimer timer_;
};

} // namespace vemlox::win
