#include "win32_shared/command_line.hpp"
#include "win32_shared/unique_handle.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace vemlox::win {
namespace {

// CommandLineToArgvW, taken from shell32 at run time so the tests need no import of it.
std::vector<std::wstring> split_like_windows(const std::wstring& command_line) {
    using Split = LPWSTR*(WINAPI*)(LPCWSTR, int*);
    static const UniqueModule shell32(
        LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    EXPECT_TRUE(shell32);
    const auto split = reinterpret_cast<Split>(
        reinterpret_cast<void (*)()>(GetProcAddress(shell32.get(), "CommandLineToArgvW")));
    int count = 0;
    wchar_t** argv = split(command_line.c_str(), &count);
    EXPECT_NE(argv, nullptr);
    std::vector<std::wstring> result(argv, argv + count);
    LocalFree(argv);
    return result;
}

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

TEST(BuildCommandLine, CommandLineToArgvWGivesBackEveryArgumentExactly) {
    const std::vector<std::wstring> arguments{
        L"-NoProfile",
        L"",
        L"two words",
        L"tab\there",
        L"\"",
        L"\\",
        L"\\\"",
        L"trailing backslash\\",
        L"trailing backslashes\\\\\\",
        L"a\\\\\"b c",
        L"\"quoted\"",
        L"  ",
        L"x\"y\"\"z",
        L"ConvertTo-Json -Compress -InputObject @(Get-NetAdapter | ForEach-Object { $_.Name })",
        L"line\nbreak",
        L"\u00e9t\u00e9 \u65e5\u672c",
        L"a=b;c&d|e^f<g>h%PATH%",
    };
    const std::wstring program = L"C:\\Program Files\\Vemlox\\vlx child.exe";

    const std::wstring command_line = build_command_line(program, arguments);

    std::vector<std::wstring> expected{program};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(split_like_windows(command_line), expected);
    EXPECT_EQ(command_line.rfind(L"\"" + program + L"\" ", 0), 0u);
}

TEST(BuildCommandLine, ProgramAloneStandsInQuotes) {
    EXPECT_EQ(build_command_line(L"C:\\windows\\system32\\ipconfig.exe", {}),
              L"\"C:\\windows\\system32\\ipconfig.exe\"");
}

} // namespace
} // namespace vemlox::win
