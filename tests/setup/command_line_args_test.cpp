#include "setup/command_line_args.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vemlox::win {
namespace {

struct SplitCase {
    const wchar_t* line;
    std::vector<std::wstring> expected;
};

const SplitCase SPLIT_COMMAND_LINE_CASES[] = {
    // How the Service Control Manager starts us: the quoted path alone.
    {LR"("C:\Program Files\Vemlox\vemlox-service.exe")",
     {LR"(C:\Program Files\Vemlox\vemlox-service.exe)"}},
    {LR"("C:\Program Files\Vemlox\vemlox-service.exe" install)",
     {LR"(C:\Program Files\Vemlox\vemlox-service.exe)", L"install"}},
    {L"vemlox-service.exe", {L"vemlox-service.exe"}},
    {L"", {L""}},
    {L"x.exe   uninstall \t extra  ", {L"x.exe", L"uninstall", L"extra"}},
    {L"x.exe\tinstall", {L"x.exe", L"install"}},
    // An empty quoted argument is an argument.
    {LR"(x.exe "")", {L"x.exe", L""}},
    {LR"(x.exe "" install)", {L"x.exe", L"", L"install"}},
    {LR"(x.exe "a b" c)", {L"x.exe", L"a b", L"c"}},
    {LR"(x.exe a"b c"d)", {L"x.exe", L"ab cd"}},
    {LR"(x.exe "unterminated arg)", {L"x.exe", L"unterminated arg"}},
    // Backslashes are literal unless they precede a double quote.
    {LR"(x.exe C:\a\\b\)", {L"x.exe", LR"(C:\a\\b\)"}},
    {LR"(x.exe a\"b)", {L"x.exe", LR"(a"b)"}},
    {LR"(x.exe a\\"b c")", {L"x.exe", LR"(a\b c)"}},
    {LR"(x.exe a\\\"b)", {L"x.exe", LR"(a\"b)"}},
    {LR"(x.exe "a\\")", {L"x.exe", LR"(a\)"}},
    // Two double quotes inside a quoted group stand for one.
    {LR"(x.exe "a""b")", {L"x.exe", LR"(a"b)"}},
    // The program path takes no escapes and ends at its closing quote.
    {LR"("C:\odd\"install)", {LR"(C:\odd\)", L"install"}},
    {LR"(C:\a"b install)", {LR"(C:\a"b)", L"install"}},
    {L"x.exe \u00E9t\u00E9", {L"x.exe", L"\u00E9t\u00E9"}},
};

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    for (const SplitCase& param : SPLIT_COMMAND_LINE_CASES) {
        EXPECT_EQ(split_command_line(param.line), param.expected);
    }
}

} // namespace
} // namespace vemlox::win
