#include "actions/fake_program_runner.hpp"
#include "actions/powershell.hpp"

#include <gtest/gtest.h>

namespace vemlox {
namespace {

TEST(RunPowershell, StartsPowershellWithTheScriptAsTheLastOfSixArguments) {
    FakeProgramRunner runner;
    runner.answer(0);
    const std::vector<EnvironmentPair> environment{{"VLX_ADAPTER", "Ethernet 2"}, {"VLX_DNS", ""}};

    ASSERT_TRUE(run_powershell(runner, "Get-Thing -A 'b'", environment));

    ASSERT_EQ(runner.runs.size(), 1u);
    EXPECT_EQ(runner.runs[0].program, "powershell.exe");
    EXPECT_EQ(runner.runs[0].arguments,
              (std::vector<std::string>{"-NoProfile", "-NonInteractive", "-ExecutionPolicy",
                                        "Bypass", "-Command", "Get-Thing -A 'b'"}));
    EXPECT_EQ(runner.runs[0].environment, (std::vector<std::pair<std::string, std::string>>{
                                              {"VLX_ADAPTER", "Ethernet 2"}, {"VLX_DNS", ""}}));
}

TEST(RunPowershell, ExitZeroGivesStandardOutputBytesUnchangedAndIgnoresStandardError) {
    FakeProgramRunner runner;
    const std::string output = std::string(" [1]\r\n\xff\0x", 9);
    runner.answer(0, output, "WARNING: something");

    const auto result = run_powershell(runner, "s", {});

    ASSERT_TRUE(result);
    EXPECT_EQ(*result, output);
}

TEST(RunPowershell, NonZeroExitGivesStandardErrorDecodedAndTrimmed) {
    struct Case {
        std::string error;
        std::string payload;
    };
    const Case cases[] = {
        {"  boom\r\n", "boom"},
        {"", ""},
        {" \t\r\n", ""},
        {"bad \xff byte", "bad \xEF\xBF\xBD byte"},
        {"\xC3", "\xEF\xBF\xBD"},
        // U+00A0, U+3000, U+0085 and U+2028 are White_Space; U+200B is not.
        {"\xC2\xA0\xE3\x80\x80line one\nline two\xC2\x85\xE2\x80\xA8", "line one\nline two"},
        {"\xE2\x80\x8B"
         "x",
         "\xE2\x80\x8B"
         "x"},
    };
    for (const Case& c : cases) {
        FakeProgramRunner runner;
        runner.answer(1, "output is dropped", c.error);

        const auto result = run_powershell(runner, "s", {});

        ASSERT_FALSE(result) << c.error;
        EXPECT_EQ(result.error(), ActionError::os_error(c.payload)) << c.error;
    }
}

TEST(RunPowershell, AnyNonZeroExitCodeFails) {
    for (const std::uint32_t code : {1u, 2u, 0xC0000005u, 0xFFFFFFFFu}) {
        FakeProgramRunner runner;
        runner.answer(code, "[]", "failed");

        const auto result = run_powershell(runner, "s", {});

        ASSERT_FALSE(result) << code;
        EXPECT_EQ(result.error(), ActionError::os_error("failed"));
    }
}

TEST(RunPowershell, ErrorOfTheRunnerIsReturnedAsItIs) {
    FakeProgramRunner runner;
    runner.fail_to_run(ActionError::os_error("program not found"));

    const auto result = run_powershell(runner, "s", {});

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), ActionError::os_error("program not found"));
}

} // namespace
} // namespace vemlox
