#include "actions/fake_program_runner.hpp"
#include "actions/powershell.hpp"

#include <gtest/gtest.h>

namespace vemlox {
namespace {

TEST(RunPowershell, StartsPowershellWithTheScriptAsTheLastOfSixArgumentsAndGivesOutputUnchanged) {
    const std::string output(" [1]\r\n\xff\0x", 9);
    FakeProgramRunner runner{{0, output, "WARNING: standard error is ignored"}};
    const std::vector<EnvironmentPair> environment{{"VLX_ADAPTER", "Ethernet 2"}, {"VLX_DNS", ""}};

    EXPECT_EQ(run_powershell(runner, "Get-Thing -A 'b'", environment), output);

    // The journal names the script only when PowerShell got the fixed options before it.
    EXPECT_EQ(runner.journal,
              std::vector<std::string>{"Get-Thing -A 'b' VLX_ADAPTER=Ethernet 2 VLX_DNS="});
}

TEST(RunPowershell, NonZeroExitGivesStandardErrorDecodedAndTrimmed) {
    struct Case {
        std::uint32_t exit_code;
        std::string error;
        std::string payload;
    };
    const Case cases[] = {
        {1, "  boom\r\n", "boom"},
        {2, "", ""},
        {0xC0000005, " \t\r\n", ""},
        {0xFFFFFFFF, "bad \xff byte", "bad \xEF\xBF\xBD byte"},
        {1, "\xC3", "\xEF\xBF\xBD"},
        // U+00A0, U+3000, U+0085 and U+2028 are White_Space; U+200B is not.
        {1, "\xC2\xA0\xE3\x80\x80line one\nline two\xC2\x85\xE2\x80\xA8", "line one\nline two"},
        {1, "\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        FakeProgramRunner runner{{c.exit_code, "output is dropped", c.error}};

        EXPECT_EQ(run_powershell(runner, "s", {}), os_failure(c.payload));
    }
}

TEST(RunPowershell, ErrorOfTheRunnerIsReturnedAsItIs) {
    FakeProgramRunner runner;
    runner.answers.emplace_back(std::unexpected(ActionError::not_supported()));

    EXPECT_EQ(run_powershell(runner, "s", {}), std::unexpected(ActionError::not_supported()));
}

} // namespace
} // namespace vemlox
