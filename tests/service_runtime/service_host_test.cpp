#include "service_runtime/recorded_reports.hpp"
#include "service_runtime/service_host.hpp"

#include <gtest/gtest.h>
#include <windows.h>

namespace vemlox::win {
namespace {

struct ControlCase {
    DWORD control;
    DWORD expected_result;
    bool stops;
};

// The Service Control Manager never delivers some controls under every system (shutdown, for
// one), so the handler is called directly.
const ControlCase CONTROL_HANDLER_CASES[] = {
    {SERVICE_CONTROL_STOP, NO_ERROR, true},
    {SERVICE_CONTROL_SHUTDOWN, NO_ERROR, true},
    {SERVICE_CONTROL_INTERROGATE, NO_ERROR, false},
    {SERVICE_CONTROL_PAUSE, ERROR_CALL_NOT_IMPLEMENTED, false},
    {SERVICE_CONTROL_CONTINUE, ERROR_CALL_NOT_IMPLEMENTED, false},
    {SERVICE_CONTROL_PRESHUTDOWN, ERROR_CALL_NOT_IMPLEMENTED, false},
    {SERVICE_CONTROL_POWEREVENT, ERROR_CALL_NOT_IMPLEMENTED, false},
    {128, ERROR_CALL_NOT_IMPLEMENTED, false},
};

// Each control comes twice to a running service: a second stop or shutdown must be as harmless
// as the first, and a stop is reported pending once, by the time the handler returns.
TEST(ControlHandler, AnswersStopsAndReportsAsTheControlAsks) {
    for (const ControlCase& param : CONTROL_HANDLER_CASES) {
        RecordedReports recorded;
        ServiceControls controls;
        ASSERT_NE(controls.stop.event(), nullptr);
        controls.status.attach(recorded.sender());
        ASSERT_TRUE(controls.status.report_running());
        for (int time = 0; time < 2; ++time) {
            EXPECT_EQ(control_handler(param.control, 0, nullptr, &controls), param.expected_result)
                << "control " << param.control;
        }
        EXPECT_EQ(controls.stop.is_stopping(), param.stops);
        EXPECT_EQ(WaitForSingleObject(controls.stop.event(), 0),
                  param.stops ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
        const auto reports = recorded.reports();
        ASSERT_EQ(reports.size(), param.stops ? 2u : 1u) << "control " << param.control;
        if (param.stops) {
            EXPECT_EQ(reports[1].dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
            EXPECT_EQ(reports[1].dwControlsAccepted, 0u);
            EXPECT_EQ(reports[1].dwCheckPoint, 1u);
            EXPECT_GT(reports[1].dwWaitHint, 0u);
        }
    }
}

} // namespace
} // namespace vemlox::win
