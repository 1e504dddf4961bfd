#include "service_runtime/recorded_reports.hpp"
#include "service_runtime/status_reporter.hpp"
#include "win32_shared/unique_handle.hpp"

#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

namespace vemlox::win {
namespace {

using namespace std::chrono_literals;

// Long enough that no checkpoint tick comes during a case.
constexpr auto NO_TICKS = std::chrono::hours(1);

enum class Step { Attach, Running, Stop, Stopped, StoppedFailed };

// A report as the Service Control Manager gets it: state, controls accepted, checkpoint, exit code.
struct Report {
    DWORD state;
    DWORD accepted;
    DWORD checkpoint;
    DWORD exit_code;
    bool operator==(const Report&) const = default;
};

constexpr DWORD STOP_AND_SHUTDOWN = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
constexpr Report RUNNING{SERVICE_RUNNING, STOP_AND_SHUTDOWN, 0, 0};
constexpr Report PENDING{SERVICE_STOP_PENDING, 0, 1, 0};
constexpr Report STOPPED{SERVICE_STOPPED, 0, 0, 0};
constexpr Report STOPPED_FAILED{SERVICE_STOPPED, 0, 0, ERROR_PIPE_BUSY};

struct SequenceCase {
    std::string name;
    std::vector<Step> steps;
    std::vector<Report> reports;
};

const SequenceCase SEQUENCE_CASES[] = {
    {"stop while serving",
     {Step::Attach, Step::Running, Step::Stop, Step::Stopped},
     {RUNNING, PENDING, STOPPED}},
    {"failed setup", {Step::Attach, Step::StoppedFailed}, {STOPPED_FAILED}},
    {"stopped after serving without a stop",
     {Step::Attach, Step::Running, Step::StoppedFailed},
     {RUNNING, STOPPED_FAILED}},
    {"stop before the running report",
     {Step::Attach, Step::Stop, Step::Running, Step::Stopped},
     {PENDING, STOPPED}},
    {"stop before the handle is attached",
     {Step::Stop, Step::Attach, Step::Running, Step::Stopped},
     {PENDING, STOPPED}},
    {"nothing goes back or comes twice",
     {Step::Attach, Step::Running, Step::Stop, Step::Running, Step::Stop, Step::Stopped, Step::Stop,
      Step::Running, Step::StoppedFailed},
     {RUNNING, PENDING, STOPPED}},
};

TEST(StatusReporter, ReportsEachStepOnceAndNeverGoesBack) {
    for (const SequenceCase& param : SEQUENCE_CASES) {
        RecordedReports recorded;
        StatusReporter reporter(NO_TICKS);
        for (const Step step : param.steps) {
            switch (step) {
            case Step::Attach:
                reporter.attach(recorded.sender());
                break;
            case Step::Running:
                EXPECT_TRUE(reporter.report_running()) << param.name;
                break;
            case Step::Stop:
                reporter.report_stop_pending();
                break;
            case Step::Stopped:
                reporter.report_stopped(NO_ERROR);
                break;
            case Step::StoppedFailed:
                reporter.report_stopped(ERROR_PIPE_BUSY);
                break;
            }
        }
        std::vector<Report> reports;
        for (const SERVICE_STATUS& status : recorded.reports()) {
            reports.push_back(Report{status.dwCurrentState, status.dwControlsAccepted,
                                     status.dwCheckPoint, status.dwWin32ExitCode});
            EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
            EXPECT_EQ(status.dwServiceSpecificExitCode, 0u);
            // Only a pending state has a wait hint; a stop's must outlast its checkpoint period.
            if (status.dwCurrentState == SERVICE_STOP_PENDING) {
                EXPECT_GE(status.dwWaitHint, 2 * std::chrono::milliseconds(NO_TICKS).count());
            } else {
                EXPECT_EQ(status.dwWaitHint, 0u) << param.name;
            }
        }
        EXPECT_EQ(reports, param.reports) << param.name;
    }
}

TEST(StatusReporter, ARefusedRunningReportGivesItsErrorAndTheStoppedReportStillFollows) {
    RecordedReports recorded;
    StatusReporter reporter(NO_TICKS);
    reporter.attach(recorded.sender());
    recorded.refuse_with = ERROR_INVALID_HANDLE;
    const auto reported = reporter.report_running();
    ASSERT_FALSE(reported);
    EXPECT_EQ(reported.error(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
    reporter.report_stopped(ERROR_INVALID_HANDLE);
    const auto reports = recorded.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(reports[1].dwWin32ExitCode, static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// The checkpoint timer for real: a pending stop's checkpoint counts up by one a tick, and nothing
// is reported after the stopped report, however the ticks fall.
TEST(StatusReporter, APendingStopsCheckpointMovesOnUntilTheStoppedReport) {
    for (int round = 0; round < 20; ++round) {
        RecordedReports recorded;
        StatusReporter reporter(5ms);
        reporter.attach(recorded.sender());
        ASSERT_TRUE(reporter.report_running());
        reporter.report_stop_pending();
        const std::size_t ticks = 3 + static_cast<std::size_t>(round % 4);
        ASSERT_GE(recorded.wait_for(2 + ticks).size(), 2 + ticks) << "the checkpoint never moved";
        reporter.report_stopped(NO_ERROR);
        const std::size_t stopped_at = recorded.reports().size();
        std::this_thread::sleep_for(100ms);

        const auto reports = recorded.reports();
        ASSERT_EQ(reports.size(), stopped_at) << "a report came after the stopped report";
        EXPECT_EQ(reports.back().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        for (std::size_t i = 1; i + 1 < reports.size(); ++i) {
            EXPECT_EQ(reports[i].dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
            EXPECT_EQ(reports[i].dwCheckPoint, i) << "round " << round;
            EXPECT_GE(reports[i].dwWaitHint, 2 * 5u);
        }
    }
}

// The control handler's report may find another thread in the middle of one, whose call into the
// Service Control Manager may not return before the handler does. The handler must not wait for
// it; its report is made by that thread right after its own.
TEST(StatusReporter, AStopReportNeverWaitsForAReportInProgress) {
    RecordedReports recorded;
    StatusReporter reporter(NO_TICKS);
    const UniqueHandle inside(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(inside && release);
    reporter.attach([&, record = recorded.sender()](SERVICE_STATUS& status) {
        if (status.dwCurrentState == SERVICE_RUNNING) {
            SetEvent(inside.get());
            WaitForSingleObject(release.get(), 20000);
        }
        return record(status);
    });
    std::thread service([&] { EXPECT_TRUE(reporter.report_running()); });
    ASSERT_EQ(WaitForSingleObject(inside.get(), 20000), WAIT_OBJECT_0);

    const UniqueHandle handled(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread handler([&] {
        reporter.report_stop_pending();
        SetEvent(handled.get());
    });
    const DWORD waited = WaitForSingleObject(handled.get(), 10000);
    SetEvent(release.get());
    handler.join();
    service.join();
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "the stop report waited for the running report";

    const auto reports = recorded.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(reports[1].dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
}

} // namespace
} // namespace vemlox::win
