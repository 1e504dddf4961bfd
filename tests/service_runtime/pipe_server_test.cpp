// The pipe server for real, on a pipe name of its own. This test process runs from the build
// folder, not beside the service, so it is always a caller from the wrong folder; allowed callers,
// the deadlines, stalled clients and a taken pipe name are exercised through the installed service.
#include "protocol/quoted.hpp"
#include "service_runtime/pipe_server.hpp"
#include "service_runtime/stop_signal.hpp"
#include "support/temp_folder.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <expected>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>
#include <windows.h>

namespace vemlox::win {
namespace {

const std::string CALLER_NOT_ALLOWED =
    "{\"status\":\"error\",\"kind\":\"rejected\",\"message\":\"caller not allowed\"}\n";

// A machine whose every interface only counts that it was reached.
class CountingMachine : ProgramRunner, StartupRegistry, Clock, SystemRestore {
  public:
    std::atomic<int> calls{0};

    [[nodiscard]] MachineAccess access() { return {*this, *this, *this, *this}; }

  private:
    ActionResult<ProgramOutcome> run(std::string_view, std::span<const std::string>,
                                     std::span<const EnvironmentPair>) override {
        return reached();
    }
    bool run_entry_exists(std::string_view) override { return ++calls, true; }
    ActionResult<void> write_approval(std::string_view, const ApprovalValue&) override {
        return reached();
    }
    std::uint64_t now_filetime() override { return ++calls, 0; }
    ActionResult<bool> set_restore_point(const RestorePointInfo&, StateManagerStatus&) override {
        return reached();
    }

    std::unexpected<ActionError> reached() {
        ++calls;
        return std::unexpected(ActionError::not_supported());
    }
};

// Everything until the server disconnects.
std::string read_to_end(HANDLE pipe) {
    std::string bytes;
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &count, nullptr) != 0 && count != 0) {
        bytes.append(buffer, count);
    }
    return bytes;
}

std::string this_process_image() {
    wchar_t buffer[1024] = {};
    DWORD size = 1024;
    QueryFullProcessImageNameW(GetCurrentProcess(), 0, buffer, &size);
    return to_utf8(std::wstring_view(buffer, size));
}

class PipeServer : public ::testing::Test {
  protected:
    void start_server() {
        static std::atomic<unsigned> counter{0};
        settings_.pipe_name = LR"(\\.\pipe\vemlox-test-)" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(counter.fetch_add(1));
        thread_.reset(CreateThread(nullptr, 0, &PipeServer::serve, this, 0, nullptr));
        ASSERT_TRUE(thread_);
        // Listening once the pipe name exists.
        for (int attempt = 0;
             attempt < 500 && WaitNamedPipeW(settings_.pipe_name.c_str(), 100) == 0; ++attempt) {
            Sleep(10);
        }
    }

    void TearDown() override {
        if (!thread_) {
            return;
        }
        stop_.request_stop();
        // A server that missed the stop event still ends after one more connection.
        if (!server_ended(10000)) {
            const UniqueHandle wake(connect());
        }
        WaitForSingleObject(thread_.get(), INFINITE);
    }

    [[nodiscard]] UniqueHandle connect() const {
        return UniqueHandle(CreateFileW(settings_.pipe_name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        0, nullptr, OPEN_EXISTING, 0, nullptr));
    }

    // True when the server returned within `timeout_ms`.
    bool server_ended(DWORD timeout_ms) {
        return WaitForSingleObject(thread_.get(), timeout_ms) == WAIT_OBJECT_0;
    }

    [[nodiscard]] std::string log() const {
        return testing::read_file(folder_.file(L"service.log")).value_or("");
    }

    testing::TempFolder folder_;
    PipeServerSettings settings_{L"", std::chrono::milliseconds(300),
                                 std::chrono::milliseconds(300)};
    StopSignal stop_;
    CountingMachine machine_;
    std::optional<std::expected<void, PipeSetupError>> result_;

  private:
    static DWORD WINAPI serve(LPVOID self) {
        auto* test = static_cast<PipeServer*>(self);
        const std::string own = to_utf8(test->folder_.file(L"vemlox-service.exe"));
        test->result_ = serve_pipe(test->folder_.path(), own, test->stop_, test->machine_.access(),
                                   test->settings_);
        return 0;
    }

    UniqueHandle thread_;
};

TEST_F(PipeServer, RejectsACallerFromAnotherFolderWithoutRunningItsRequestAndLogsFirst) {
    start_server();
    const UniqueHandle pipe = connect();
    ASSERT_TRUE(pipe);
    const std::string request = "{\"op\":\"renew_ip\"}\n";
    DWORD written = 0;
    WriteFile(pipe.get(), request.data(), static_cast<DWORD>(request.size()), &written, nullptr);

    // The first byte of the response means the log line is already there.
    char first = 0;
    DWORD count = 0;
    ASSERT_NE(ReadFile(pipe.get(), &first, 1, &count, nullptr), 0);
    const std::string logged = log();
    EXPECT_EQ(first + read_to_end(pipe.get()), CALLER_NOT_ALLOWED);
    ASSERT_EQ(std::ranges::count(logged, '\n'), 1);
    EXPECT_EQ(logged.substr(logged.find(' ') + 1),
              "rejected caller " + quoted(this_process_image()) + "\n");

    stop_.request_stop();
    ASSERT_TRUE(server_ended(10000));
    ASSERT_TRUE(result_ && *result_);
    EXPECT_EQ(machine_.calls.load(), 0);
}

TEST_F(PipeServer, StopDuringARequestLetsTheClientTakeItsResponseFirst) {
    settings_.response_deadline = std::chrono::milliseconds(60000);
    start_server();
    const UniqueHandle pipe = connect();
    ASSERT_TRUE(pipe);
    DWORD available = 0;
    for (int attempt = 0; attempt < 1000 && available == 0; ++attempt) {
        Sleep(10);
        ASSERT_NE(PeekNamedPipe(pipe.get(), nullptr, 0, nullptr, &available, nullptr), 0);
    }
    ASSERT_GT(available, 0u) << "no response written";
    stop_.request_stop();
    // The server waits for this client to take its response, not for the stop.
    EXPECT_FALSE(server_ended(200));
    EXPECT_EQ(read_to_end(pipe.get()), CALLER_NOT_ALLOWED);
    ASSERT_TRUE(server_ended(10000));
    ASSERT_TRUE(result_ && *result_);
}

} // namespace
} // namespace vemlox::win
