#include "win/service_host.hpp"
#include "win/stop_signal.hpp"

#include <gtest/gtest.h>
#include <windows.h>

namespace vemlox::win {
namespace {

struct ControlCase {
    DWORD control;
    DWORD expected_result;
    bool stops;
};

class ControlHandler : public ::testing::TestWithParam<ControlCase> {};

// The Service Control Manager never delivers some controls under every system (shutdown, for
// one), so the handler is called directly.
TEST_P(ControlHandler, AnswersAndStopsAsTheControlAsks) {
    StopSignal stop;
    ASSERT_NE(stop.event(), nullptr);
    EXPECT_EQ(control_handler(GetParam().control, 0, nullptr, &stop), GetParam().expected_result);
    EXPECT_EQ(stop.is_stopping(), GetParam().stops);
    EXPECT_EQ(WaitForSingleObject(stop.event(), 0),
              GetParam().stops ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ControlHandler,
    ::testing::Values(ControlCase{SERVICE_CONTROL_STOP, NO_ERROR, true},
                      ControlCase{SERVICE_CONTROL_SHUTDOWN, NO_ERROR, true},
                      ControlCase{SERVICE_CONTROL_INTERROGATE, NO_ERROR, false},
                      ControlCase{SERVICE_CONTROL_PAUSE, ERROR_CALL_NOT_IMPLEMENTED, false},
                      ControlCase{SERVICE_CONTROL_CONTINUE, ERROR_CALL_NOT_IMPLEMENTED, false},
                      ControlCase{SERVICE_CONTROL_PRESHUTDOWN, ERROR_CALL_NOT_IMPLEMENTED, false},
                      ControlCase{SERVICE_CONTROL_POWEREVENT, ERROR_CALL_NOT_IMPLEMENTED, false},
                      ControlCase{128, ERROR_CALL_NOT_IMPLEMENTED, false}));

TEST(ControlHandlerRepeated, SecondStopIsHarmless) {
    StopSignal stop;
    EXPECT_EQ(control_handler(SERVICE_CONTROL_STOP, 0, nullptr, &stop), NO_ERROR);
    EXPECT_EQ(control_handler(SERVICE_CONTROL_STOP, 0, nullptr, &stop), NO_ERROR);
    EXPECT_TRUE(stop.is_stopping());
}

} // namespace
} // namespace vemlox::win
