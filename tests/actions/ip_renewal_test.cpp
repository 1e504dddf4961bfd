#include "actions/fake_program_runner.hpp"
#include "actions/ip_renewal.hpp"

#include <gtest/gtest.h>

namespace vemlox {
namespace {

TEST(RenewIp, RunsIpconfigRenewAndSucceedsWhateverTheToolReports) {
    for (const std::uint32_t code : {0u, 1u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(code);
        FakeProgramRunner runner{
            {code, "Error: Unknown or invalid command line parameters specified\n", "failed"}};

        EXPECT_TRUE(perform(request::RenewIp{}, runner));
        EXPECT_EQ(runner.journal, std::vector<std::string>{"ipconfig.exe /renew"});
    }
}

TEST(RenewIp, FailureToRunTheToolIsReturned) {
    FakeProgramRunner runner;
    runner.answers.emplace_back(os_failure("program not found"));

    EXPECT_EQ(perform(request::RenewIp{}, runner), os_failure("program not found"));
}

} // namespace
} // namespace vemlox
