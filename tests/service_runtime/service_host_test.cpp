#include "service_runtime/service_host.hpp"
#include "service_runtime/stop_signal.hpp"

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

// Each control comes twice: a second stop or shutdown must be as harmless as the first.
TEST(ControlHandler, AnswersAndStopsAsTheControlAsks) {
    for (const ControlCase& param : CONTROL_HANDLER_CASES) {
        StopSignal stop;
        ASSERT_NE(stop.event(), nullptr);
        for (int time = 0; time < 2; ++time) {
            EXPECT_EQ(control_handler(param.control, 0, nullptr, &stop), param.expected_result)
                << "control " << param.control;
        }
        EXPECT_EQ(stop.is_stopping(), param.stops);
        EXPECT_EQ(WaitForSingleObject(stop.event(), 0), param.stops ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
    }
}

} // namespace
} // namespace vemlox::win
