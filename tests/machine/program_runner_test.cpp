#include "machine/console_output_text.hpp"
#include "machine/program_runner_win.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

namespace vemlox::win {
namespace {

using namespace std::string_literals;

const std::wstring CHILD = L"vlx-test-child.exe";

std::wstring helpers_folder() {
    std::wstring folder = to_wide(VEMLOX_TEST_HELPERS);
    std::ranges::replace(folder, L'/', L'\\');
    return folder;
}

std::string text_of(const ActionResult<ProgramExit>& result) {
    return result ? "exit " + std::to_string(result->exit_code) : result.error().shown_text();
}

// A folder of its own for one test, removed with whatever was copied into it.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::wstring& name) {
        std::wstring temp(MAX_PATH, L'\0');
        temp.resize(GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
        path_ = temp + L"vemlox-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        for (const std::wstring& file : files_) {
            DeleteFileW(file.c_str());
        }
        RemoveDirectoryW(path_.c_str());
    }

    [[nodiscard]] const std::wstring& path() const { return path_; }

    // A copy of the test child under another name.
    void add_child_as(const std::wstring& name) {
        const std::wstring target = path_ + L"\\" + name;
        ASSERT_TRUE(CopyFileW((helpers_folder() + L"\\" + CHILD).c_str(), target.c_str(), FALSE));
        files_.push_back(target);
    }

  private:
    std::wstring path_;
    std::vector<std::wstring> files_;
};

class ProgramRunnerTest : public ::testing::Test {
  protected:
    ActionResult<ProgramExit> run_child(std::vector<std::string> arguments,
                                        std::vector<EnvironmentPair> environment = {}) {
        return runner.run("vlx-test-child.exe", arguments, environment);
    }

    WinProgramRunner runner{helpers_folder()};
};

TEST_F(ProgramRunnerTest, ChildGetsEveryArgumentExactly) {
    const std::vector<std::string> arguments{
        "args",
        "-NoProfile",
        "",
        "two words",
        "tab\there",
        "\"",
        "\\",
        "ends with backslash\\",
        "ends with backslashes\\\\",
        "a\\\\\"b c",
        "say \"hi\" \\\"there\\\"",
        "C:\\Program Files\\",
        "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80",
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

TEST_F(ProgramRunnerTest, PairReplacesAnInheritedVariableOfAnyCase) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"vlx_adapter", L"inherited"));
    ASSERT_TRUE(SetEnvironmentVariableW(L"VEMLOX_TEST_INHERITED", L"yes"));

    const auto result =
        run_child({"env", "VLX_ADAPTER", "VEMLOX_TEST_INHERITED"}, {{"VLX_ADAPTER", "Ethernet 2"}});

    SetEnvironmentVariableW(L"vlx_adapter", nullptr);
    SetEnvironmentVariableW(L"VEMLOX_TEST_INHERITED", nullptr);
    ASSERT_TRUE(result) << text_of(result);
    EXPECT_EQ(result->standard_output, "VEMLOX_TEST_INHERITED=yes\nVLX_ADAPTER=Ethernet 2\n");
}

TEST_F(ProgramRunnerTest, EmptyValueIsStillPassed) {
    const auto result =
        run_child({"env", "VLX_ADAPTER", "VLX_DNS"}, {{"VLX_ADAPTER", "Wi-Fi"}, {"VLX_DNS", ""}});

    ASSERT_TRUE(result) << text_of(result);
    EXPECT_EQ(result->standard_output, "VLX_ADAPTER=Wi-Fi\nVLX_DNS=\n");
}

TEST_F(ProgramRunnerTest, ReadsLargeStandardOutputAndErrorAtTheSameTime) {
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

TEST_F(ProgramRunnerTest, GivesTheExitCodeAndBothStreamsAsUtf8) {
    // Standard output "[]\n", NUL and "é" in UTF-8; standard error: FF, two spaces, "boom", CR, LF,
    // C3, which is not UTF-8 and so is read in the OEM code page.
    const auto result = run_child({"write", "5b5d0a00c3a9", "ff2020626f6f6d0d0ac3", "7"});

    ASSERT_TRUE(result) << text_of(result);
    EXPECT_EQ(result->exit_code, 7u);
    EXPECT_EQ(result->standard_output, "[]\n\0\xc3\xa9"s);
    EXPECT_EQ(result->standard_error, console_output_text("\xff  boom\r\n\xc3", GetOEMCP()));
    EXPECT_TRUE(result->standard_error.find("  boom\r\n") != std::string::npos);
}

TEST_F(ProgramRunnerTest, StandardInputIsTheNullDevice) {
    const auto result = run_child({"stdin"});

    ASSERT_TRUE(result) << text_of(result);
    EXPECT_EQ(result->standard_output, "stdin 0");
}

TEST_F(ProgramRunnerTest, MissingProgramIsNotFound) {
    const std::string names[] = {"vlx-no-such-program.exe", "..\\helpers\\vlx-test-child.exe",
                                 "C:\\windows\\system32\\cmd.exe", "sub/vlx-test-child.exe", ""};
    for (const std::string& name : names) {
        const auto result = runner.run(name, {}, {});

        ASSERT_FALSE(result) << name;
        EXPECT_EQ(result.error(), ActionError::os_error("program not found")) << name;
    }
}

TEST(TrustedProgramFolders, AreOwnSystemPowershellAndWindowsFoldersInThisOrder) {
    wchar_t system[MAX_PATH];
    wchar_t windows[MAX_PATH];
    ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
    ASSERT_NE(GetWindowsDirectoryW(windows, MAX_PATH), 0u);

    EXPECT_EQ(
        trusted_program_folders(L"C:\\Program Files\\Vemlox"),
        (std::vector<std::wstring>{L"C:\\Program Files\\Vemlox", system,
                                   std::wstring(system) + L"\\WindowsPowerShell\\v1.0", windows}));
}

TEST(ProgramLookup, OwnFolderComesBeforeTheSystemFolder) {
    ScratchFolder own(L"own-first");
    own.add_child_as(L"ipconfig.exe");
    WinProgramRunner runner(own.path());

    const auto result = runner.run("ipconfig.exe", std::vector<std::string>{"args", "ours"}, {});

    ASSERT_TRUE(result) << text_of(result);
    EXPECT_EQ(result->standard_output, "ours\0"s);
}

TEST(ProgramLookup, FindsProgramsOfTheSystemFolderAndWindowsPowershell) {
    ScratchFolder own(L"empty-own");
    WinProgramRunner runner(own.path());

    const auto cmd = runner.run("cmd.exe", std::vector<std::string>{"/c", "exit 5"}, {});
    ASSERT_TRUE(cmd) << text_of(cmd);
    EXPECT_EQ(cmd->exit_code, 5u);

    // Windows PowerShell lives only in the system folder's WindowsPowerShell\v1.0.
    const auto powershell =
        runner.run("powershell.exe", std::vector<std::string>{"-Command", "exit 0"}, {});
    EXPECT_TRUE(powershell) << text_of(powershell);
}

TEST(ProgramLookup, NeverLooksInPathOrTheCurrentFolder) {
    ScratchFolder own(L"lookup-own");
    ScratchFolder on_path(L"on-path");
    ScratchFolder current(L"current");
    on_path.add_child_as(L"vlx-path-only.exe");
    current.add_child_as(L"vlx-cwd-only.exe");

    std::wstring saved_path(32767, L'\0');
    saved_path.resize(
        GetEnvironmentVariableW(L"PATH", saved_path.data(), static_cast<DWORD>(saved_path.size())));
    wchar_t saved_current[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, saved_current), 0u);
    ASSERT_TRUE(SetEnvironmentVariableW(L"PATH", (on_path.path() + L";" + saved_path).c_str()));
    ASSERT_TRUE(SetCurrentDirectoryW(current.path().c_str()));

    WinProgramRunner runner(own.path());
    const auto from_path = runner.run("vlx-path-only.exe", {}, {});
    const auto from_current = runner.run("vlx-cwd-only.exe", {}, {});
    // The same copies run when they stand in a folder that is searched.
    const auto from_own_folder =
        WinProgramRunner(current.path())
            .run("vlx-cwd-only.exe", std::vector<std::string>{"args", "x"}, {});

    SetEnvironmentVariableW(L"PATH", saved_path.c_str());
    SetCurrentDirectoryW(saved_current);
    ASSERT_FALSE(from_path);
    EXPECT_EQ(from_path.error(), ActionError::os_error("program not found"));
    ASSERT_FALSE(from_current);
    EXPECT_EQ(from_current.error(), ActionError::os_error("program not found"));
    ASSERT_TRUE(from_own_folder) << text_of(from_own_folder);
    EXPECT_EQ(from_own_folder->standard_output, "x\0"s);
}

// A handle of ours that is inheritable but not one of the child's three must not reach the child:
// were it the write end of another run's pipe, that run's read would wait for this child to end.
TEST_F(ProgramRunnerTest, ChildInheritsOnlyItsOwnStandardHandles) {
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

    ActionResult<ProgramExit> waited = std::unexpected(ActionError::os_error("not run"));
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

} // namespace
} // namespace vemlox::win
