#include "win32_shared/child_command_line.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vemlox::win {
namespace {

TEST(AppendArgument, QuotesOnlyWhereNeededAndEscapesQuotesAndTheirBackslashes) {
    struct Case {
        std::wstring argument;
        std::wstring written;
    };
    const Case cases[] = {
        {L"-NoProfile", L"-NoProfile"},
        {L"", L"\"\""},
        {L"a b", L"\"a b\""},
        {L"a\tb", L"\"a\tb\""},
        {L"a\"b", L"a\\\"b"},
        {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
        {L"C:\\dir\\", L"C:\\dir\\"},
        {L"C:\\my dir\\", L"\"C:\\my dir\\\\\""},
        {L"a\\\\\"b c", L"\"a\\\\\\\\\\\"b c\""},
        {L"\\\\server\\share", L"\\\\server\\share"},
    };
    for (const Case& c : cases) {
        std::wstring written;
        append_argument(written, c.argument);
        EXPECT_EQ(written, c.written) << c.argument.size();
    }
}

// How a child splits what is built here is checked by the program runner's tests, on a real child.
TEST(BuildCommandLine, ProgramStandsInQuotesThenEachArgumentAfterASpace) {
    EXPECT_EQ(build_command_line(L"C:\\windows\\system32\\ipconfig.exe", {}),
              L"\"C:\\windows\\system32\\ipconfig.exe\"");
    const std::vector<std::wstring> arguments{L"-NoProfile", L"", L"a b"};
    EXPECT_EQ(build_command_line(L"C:\\Program Files\\Vemlox\\powershell.exe", arguments),
              L"\"C:\\Program Files\\Vemlox\\powershell.exe\" -NoProfile \"\" \"a b\"");
}

} // namespace
} // namespace vemlox::win
