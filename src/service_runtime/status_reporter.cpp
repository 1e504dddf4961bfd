#include "service_runtime/status_reporter.hpp"

#include "actions/filetime.hpp"

#include <utility>

namespace vemlox::win {

namespace {

// A program that waits for a stop takes a service whose checkpoint has not moved within the wait
// hint for hung. The hint spans several periods, so that a tick made late by a busy machine is not
// taken for a hang.
constexpr DWORD WAIT_HINT_PERIODS = 5;

} // namespace

StatusReporter::StatusReporter(std::chrono::milliseconds checkpoint_period)
    : checkpoint_period_ms_(static_cast<DWORD>(checkpoint_period.count())),
      timer_(CreateThreadpoolTimer(&StatusReporter::advance_checkpoint, this, nullptr)) {}

template <typename MakeReports> void StatusReporter::with_lock(MakeReports make_reports) {
    AcquireSRWLockExclusive(&lock_);
    make_reports();
    ReleaseSRWLockExclusive(&lock_);
    make_waiting_stop_report();
}

void StatusReporter::attach(Send send) {
    with_lock([&] { send_ = std::move(send); });
}

Win32Result<void> StatusReporter::report_running() {
    Win32Result<void> reported;
    with_lock([&] {
        if (phase_ == Phase::Starting) {
            phase_ = Phase::Running;
            reported = send(SERVICE_RUNNING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
        }
    });
    return reported;
}

void StatusReporter::report_stop_pending() {
    stop_waiting_.store(true);
    make_waiting_stop_report();
}

// The control handler only tries the lock, for the thread that holds it may be waiting on the
// Service Control Manager, which may be waiting for the handler. A stop it cannot report stays
// waiting, and every thread looks for one each time it lets go of the lock: whichever lets go
// last finds it.
void StatusReporter::make_waiting_stop_report() {
    while (stop_waiting_.load()) {
        if (TryAcquireSRWLockExclusive(&lock_) == 0) {
            return;
        }
        // Before the handle is attached there is no one to report to; attach() looks again.
        const bool attached = static_cast<bool>(send_);
        if (attached && stop_waiting_.exchange(false)) {
            begin_stop_pending();
        }
        ReleaseSRWLockExclusive(&lock_);
        if (!attached) {
            return;
        }
    }
}

void StatusReporter::begin_stop_pending() {
    if (phase_ != Phase::Starting && phase_ != Phase::Running) {
        return;
    }
    phase_ = Phase::StopPending;
    checkpoint_ = 1;
    // A refused report is not made again: the next tick reports the same state.
    static_cast<void>(send(SERVICE_STOP_PENDING, 0));
    // Without a timer the stop is still reported, only its checkpoint stays.
    if (timer_) {
        const auto due_bits = static_cast<std::uint64_t>(relative_due_time(checkpoint_period_ms_));
        FILETIME due_time{static_cast<DWORD>(due_bits & 0xFFFFFFFFu),
                          static_cast<DWORD>(due_bits >> 32)};
        SetThreadpoolTimer(timer_.get(), &due_time, checkpoint_period_ms_, 0);
    }
}

void CALLBACK StatusReporter::advance_checkpoint(PTP_CALLBACK_INSTANCE, PVOID context, PTP_TIMER) {
    auto& self = *static_cast<StatusReporter*>(context);
    self.with_lock([&self] {
        if (self.phase_ == Phase::StopPending) {
            ++self.checkpoint_;
            static_cast<void>(self.send(SERVICE_STOP_PENDING, 0));
        }
    });
}

void StatusReporter::report_stopped(std::uint32_t exit_code) {
    AcquireSRWLockExclusive(&lock_);
    if (phase_ != Phase::Stopped) {
        // From now on a checkpoint tick finds the stop over and reports nothing.
        phase_ = Phase::Stopped;
        static_cast<void>(send(SERVICE_STOPPED, 0, exit_code));
    }
    ReleaseSRWLockExclusive(&lock_);
}

Win32Result<void> StatusReporter::send(DWORD state, DWORD controls_accepted,
                                       std::uint32_t exit_code) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = controls_accepted;
    status.dwWin32ExitCode = exit_code;
    // A checkpoint and a wait hint belong to a pending state; in any other they must be zero.
    if (state == SERVICE_STOP_PENDING) {
        status.dwCheckPoint = checkpoint_;
        status.dwWaitHint = checkpoint_period_ms_ * WAIT_HINT_PERIODS;
    }
    if (!send_ || send_(status)) {
        return {};
    }
    return last_error();
}

} // namespace vemlox::win
