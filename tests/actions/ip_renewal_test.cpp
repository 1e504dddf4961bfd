#include "actions/fake_program_runner.hpp"
#include "actions/ip_renewal.hpp"

#include <gtest/gtest.h>

namespace vemlox {
namespace {

TEST(RenewIp, RunsIpconfigRenewWithTheEnvironmentUnchanged) {
    FakeProgramRunner runner;
    runner.answer(0);

    ASSERT_TRUE(renew_ip(runner));

    ASSERT_EQ(runner.runs.size(), 1u);
    EXPECT_EQ(runner.runs[0].program, "ipconfig.exe");
    EXPECT_EQ(runner.runs[0].arguments, std::vector<std::string>{"/renew"});
    EXPECT_TRUE(runner.runs[0].environment.empty());
}

TEST(RenewIp, SucceedsWhateverTheToolReports) {
    for (const std::uint32_t code : {0u, 1u, 2u, 0xFFFFFFFFu}) {
        FakeProgramRunner runner;
        runner.answer(code, "Error: Unknown or invalid command line parameters specified\n",
                      std::string(100000, 'e'));

        EXPECT_TRUE(renew_ip(runner)) << code;
    }
}

TEST(RenewIp, FailureToRunTheToolIsReturned) {
    FakeProgramRunner runner;
    runner.fail_to_run(ActionError::os_error("program not found"));

    const auto result = renew_ip(runner);

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), ActionError::os_error("program not found"));
}

} // namespace
} // namespace vemlox
