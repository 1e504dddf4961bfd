// The program runner against a real child program. Which folders are searched, in which order,
// and the environment the scripts see are exercised through the installed service.
#include "machine/program_runner_win.hpp"
#include "protocol/utf8.hpp"
#include "support/temp_folder.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

namespace vemlox::win {
namespace {

using namespace std::string_literals;

std::wstring helpers_folder() {
    std::wstring folder = to_wide(VEMLOX_TEST_HELPERS);
    std::ranges::replace(folder, L'/', L'\\');
    return folder;
}

// A copy of the test child under another name.
void add_child_as(const testing::TempFolder& folder, const std::wstring& name) {
    ASSERT_TRUE(CopyFileW((helpers_folder() + L"\\vlx-test-child.exe").c_str(),
                          folder.file(name).c_str(), FALSE));
}

std::string text_of(const ActionResult<ProgramOutcome>& result) {
    return result ? "exit " + std::to_string(result->exit_code) : result.error().message();
}

constexpr std::chrono::seconds TIME_LIMIT{60};

ActionResult<ProgramOutcome> run_child(const std::vector<std::string>& arguments,
                                    const std::string& name = "vlx-test-child.exe",
                                    std::chrono::seconds time_limit = TIME_LIMIT) {
    return WinProgramRunner(helpers_folder(), time_limit).run(name, arguments, {});
}

// Gone, or gone within a few seconds: its end may be reported just after its handles closed.
bool has_ended(DWORD process_id) {
    const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, process_id));
    return !process || WaitForSingleObject(process.get(), 5000) == WAIT_OBJECT_0;
}

// The child splits its command line both as CommandLineToArgvW and as its C runtime does, and
// exits 3 when they differ.
TEST(ProgramRunner, ChildGetsEveryArgumentExactly) {
    const std::vector<std::string> arguments{
        "args",
        "-NoProfile",
        "",
        "  ",
        "two words",
        "tab\there",
        "line\nbreak",
        "\"",
        "\\",
        "\\\"",
        "ends with backslash\\",
        "ends with backslashes\\\\\\",
        "a\\\\\"b c",
        "\"quoted\"",
        "x\"y\"\"z",
        "say \"hi\" \\\"there\\\"",
        "C:\\Program Files\\",
        "a=b;c&d|e^f<g>h%PATH%",
        "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
        "if ($env:VLX_DNS) { Set-DnsClientServerAddress -ServerAddresses ($env:VLX_DNS -split ',') "
        "}",
    };

    const auto result = run_child(arguments);

    ASSERT_TRUE(result) << text_of(result);
    EXPECT_EQ(result->exit_code, 0u) << "the C runtime split the line differently";
    std::string expected;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        expected += arguments[i] + '\0';
    }
    EXPECT_EQ(result->standard_output, expected);
}

TEST(ProgramRunner, ReadsLargeStandardOutputAndErrorAtTheSameTime) {
    constexpr std::size_t MEBIBYTES = 8;

    const auto result = run_child({"flood", std::to_string(MEBIBYTES)});

    ASSERT_TRUE(result) << text_of(result);
    EXPECT_EQ(result->exit_code, 0u);
    ASSERT_EQ(result->standard_output.size(), MEBIBYTES << 20);
    ASSERT_EQ(result->standard_error.size(), MEBIBYTES << 20);
    // Each 64 KiB chunk repeats the same pattern, so every byte can be checked.
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < result->standard_output.size(); ++i) {
        const std::size_t at = i % (64 * 1024);
        wrong += result->standard_output[i] != static_cast<char>('a' + at % 26);
        wrong += result->standard_error[i] != static_cast<char>('0' + at % 10);
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(ProgramRunner, GivesTheExitCodeAndEachStreamAsUtf8OnItsOwn) {
    // Standard output "[]\n", NUL and "é" in UTF-8; standard error: FF, two spaces, "boom", CR, LF,
    // C3, which is not UTF-8 and so is read in the OEM code page.
    const auto result = run_child({"write", "5b5d0a00c3a9", "ff2020626f6f6d0d0ac3", "7"});

    ASSERT_TRUE(result) << text_of(result);
    EXPECT_EQ(result->exit_code, 7u);
    EXPECT_EQ(result->standard_output, "[]\n\0\xc3\xa9"s);
    EXPECT_TRUE(is_valid_utf8(result->standard_error)) << result->standard_error;
    EXPECT_NE(result->standard_error.find("  boom\r\n"), std::string::npos);
}

TEST(ProgramRunner, StandardInputIsTheNullDevice) {
    const auto result = run_child({"stdin"});

    ASSERT_TRUE(result) << text_of(result);
    EXPECT_EQ(result->standard_output, "stdin 0");
}

// Only a plain name is looked up, and only in the trusted folders (here the child's own, whose
// order and the PATH rule are exercised through the installed service). The current folder is
// the Windows folder under the installed service, searched anyway, so only here can a program in
// the current folder be told apart.
TEST(ProgramRunner, FindsPlainNamesOnlyAndNeverInTheCurrentFolder) {
    const testing::TempFolder current;
    add_child_as(current, L"vlx-cwd-only.exe");
    wchar_t saved_current[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, saved_current), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(current.path().c_str()));

    for (const std::string name :
         {"vlx-cwd-only.exe", "vlx-no-such-program.exe", "..\\test_child\\vlx-test-child.exe",
          "./vlx-test-child.exe", "C:\\windows\\system32\\cmd.exe", ""}) {
        EXPECT_EQ(text_of(run_child({}, name)), "os error: program not found") << name;
    }
    // The same copy runs when it stands in a folder that is searched.
    const auto from_own_folder =
        WinProgramRunner(current.path(), TIME_LIMIT)
            .run("vlx-cwd-only.exe", std::vector<std::string>{"args", "x"}, {});

    SetCurrentDirectoryW(saved_current);
    ASSERT_TRUE(from_own_folder) << text_of(from_own_folder);
    EXPECT_EQ(from_own_folder->standard_output, "x\0"s);
}

// A handle of ours that is inheritable but not one of the child's three must not reach the child:
// were it the write end of another run's pipe, that run's read would wait for this child to end.
TEST(ProgramRunner, ChildInheritsOnlyItsOwnStandardHandles) {
    const std::wstring id = std::to_wstring(GetCurrentProcessId());
    const std::wstring started_name = L"vemlox-test-started-" + id;
    const std::wstring release_name = L"vemlox-test-release-" + id;
    const UniqueHandle started(CreateEventW(nullptr, TRUE, FALSE, started_name.c_str()));
    const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, release_name.c_str()));
    ASSERT_TRUE(started && release);

    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    UniqueHandle read_end;
    UniqueHandle write_end;
    ASSERT_TRUE(CreatePipe(read_end.put(), write_end.put(), &inheritable, 0));

    ActionResult<ProgramOutcome> waited = std::unexpected(ActionError::os_error("not run"));
    std::thread waiter([&] {
        waited = run_child({"wait", to_utf8(started_name), to_utf8(release_name)});
    });
    const bool child_started = WaitForSingleObject(started.get(), 60000) == WAIT_OBJECT_0;

    // With our write end closed, the pipe has a writer left only if the child inherited one.
    write_end.reset();
    DWORD available = 0;
    const BOOL peeked = PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr);
    const DWORD peek_error = GetLastError();
    SetEvent(release.get());
    waiter.join();

    ASSERT_TRUE(child_started);
    EXPECT_FALSE(peeked) << "the child inherited a handle it was not given";
    EXPECT_EQ(peek_error, static_cast<DWORD>(ERROR_BROKEN_PIPE));
    ASSERT_TRUE(waited) << text_of(waited);
    EXPECT_EQ(waited->standard_output, "released");
}

// The child starts a grandchild that holds the output pipes and sleeps for 60 s. Whether the child
// ends at once or sleeps past the limit, the run returns long before the grandchild would end, and
// both are gone.
TEST(ProgramRunner, EndsTheChildAndAllItStartedWhenItEndsOrRunsOutOfTime) {
    struct Case {
        const char* child_sleep_ms;
        std::chrono::seconds time_limit;
        std::string expected;
    };
    for (const Case& c : {Case{"0", TIME_LIMIT, "exit 0"},
                          Case{"60000", std::chrono::seconds(5),
                               "os error: vlx-test-child.exe did not finish within 5 s"}}) {
        const testing::TempFolder folder;
        const std::wstring pids_file = folder.file(L"pids");
        const ULONGLONG start = GetTickCount64();

        const auto result = run_child({"tree", to_utf8(pids_file), c.child_sleep_ms},
                                      "vlx-test-child.exe", c.time_limit);

        EXPECT_LT(GetTickCount64() - start, 30000u) << c.child_sleep_ms;
        EXPECT_EQ(text_of(result), c.expected);
        DWORD child = 0;
        DWORD grandchild = 0;
        std::istringstream(testing::read_file(pids_file).value_or("")) >> child >> grandchild;
        ASSERT_NE(grandchild, 0u) << c.child_sleep_ms;
        EXPECT_TRUE(has_ended(child)) << c.child_sleep_ms;
        EXPECT_TRUE(has_ended(grandchild)) << c.child_sleep_ms;
    }
}

} // namespace
} // namespace vemlox::win
