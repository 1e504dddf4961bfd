// The pipe server for real, on a pipe name of its own. Callers are checked by executable path,
// so allowed clients are copies of this test executable named "vemlox.exe", started in client
// mode; this process itself is a caller from the wrong folder.
#include "actions/dispatcher.hpp"
#include "protocol/parse_request.hpp"
#include "protocol/quoted.hpp"
#include "protocol/response.hpp"
#include "service_runtime/pipe_server.hpp"
#include "service_runtime/stop_signal.hpp"
#include "support/temp_folder.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

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

using testing::read_file;
using testing::TempFolder;
using testing::write_file;

// ---- Client mode: what a copy of this executable does when started by a test. ----

constexpr wchar_t CLIENT_PIPE_VARIABLE[] = L"VEMLOX_TEST_CLIENT_PIPE";
constexpr wchar_t CLIENT_SEND_VARIABLE[] = L"VEMLOX_TEST_CLIENT_SEND";
constexpr wchar_t CLIENT_LOG_VARIABLE[] = L"VEMLOX_TEST_CLIENT_LOG";
constexpr wchar_t CLIENT_OUT_VARIABLE[] = L"VEMLOX_TEST_CLIENT_OUT";
constexpr DWORD CLIENT_COULD_NOT_CONNECT = 3;

std::optional<std::wstring> environment_value(const wchar_t* name) {
    std::wstring value(32768, L'\0');
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        return std::nullopt;
    }
    value.resize(length);
    return value;
}

// Between two connections the only instance is busy; clients wait for it like real ones do.
UniqueFile connect_to(const std::wstring& pipe_name) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        UniqueFile pipe(CreateFileW(pipe_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        if (pipe) {
            return pipe;
        }
        if (GetLastError() == ERROR_PIPE_BUSY) {
            WaitNamedPipeW(pipe_name.c_str(), 100);
        } else {
            Sleep(10);
        }
    }
    return {};
}

void send(HANDLE pipe, const std::string& bytes) {
    DWORD written = 0;
    WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

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

// Reads up to and including the first line feed (or until the server disconnects).
std::string read_line(HANDLE pipe) {
    std::string bytes;
    char byte = 0;
    DWORD count = 0;
    while (bytes.find('\n') == std::string::npos &&
           ReadFile(pipe, &byte, 1, &count, nullptr) != 0 && count == 1) {
        bytes.push_back(byte);
    }
    return bytes;
}

// Connects, sends the request (if any), reads the response line and then, at once, takes a copy
// of the log: whatever the server logged for this connection must already be there.
UINT run_as_client(const std::wstring& pipe_name) {
    const UniqueFile pipe = connect_to(pipe_name);
    if (!pipe) {
        return CLIENT_COULD_NOT_CONNECT;
    }
    if (const auto request = environment_value(CLIENT_SEND_VARIABLE)) {
        send(pipe.get(), to_utf8(*request));
    }
    std::string response = read_line(pipe.get());
    const std::string log =
        read_file(environment_value(CLIENT_LOG_VARIABLE).value_or(L"")).value_or("");
    response += read_to_end(pipe.get());
    const std::wstring out = environment_value(CLIENT_OUT_VARIABLE).value_or(L"");
    write_file(out, response);
    write_file(out + L".log", log);
    return 0;
}

// Runs before any test when this executable was started as a client, and never returns then.
const bool client_mode_checked = [] {
    if (const auto pipe_name = environment_value(CLIENT_PIPE_VARIABLE)) {
        ExitProcess(run_as_client(*pipe_name));
    }
    return true;
}();

// ---- The server side. ----

class FakeOperations : public Operations {
  public:
    ActionResult<void> set_machine_startup(std::string_view, bool) override { return count(); }
    ActionResult<void> create_restore_point() override { return count(); }
    ActionResult<std::vector<std::string>> enable_adapters() override {
        ++calls;
        return std::vector<std::string>{};
    }
    ActionResult<void> disable_adapters(std::span<const std::string>) override { return count(); }
    ActionResult<void> renew_ip() override { return count(); }
    ActionResult<std::vector<DnsSetting>> use_public_dns() override {
        ++calls;
        return std::vector<DnsSetting>{};
    }
    ActionResult<void> restore_dns(std::span<const DnsSetting>) override { return count(); }

    std::atomic<int> calls{0};

  private:
    ActionResult<void> count() {
        ++calls;
        return {};
    }
};

const std::string PING = R"({"op":"ping"})";
const std::string RENEW_IP = R"({"op":"renew_ip"})";

std::wstring unique_pipe_name() {
    static std::atomic<unsigned> counter{0};
    return LR"(\\.\pipe\vemlox-test-)" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter.fetch_add(1));
}

std::string this_process_image() {
    wchar_t buffer[1024] = {};
    DWORD size = 1024;
    QueryFullProcessImageNameW(GetCurrentProcess(), 0, buffer, &size);
    return to_utf8(std::wstring_view(buffer, size));
}

std::string rejection(std::string_view message) {
    return encode_response(ErrorResponse{FailureKind::Rejected, std::string(message)});
}

// The log's messages, without their timestamps.
std::vector<std::string> messages_of(const std::string& log) {
    std::vector<std::string> messages;
    std::size_t start = 0;
    while (start < log.size()) {
        const std::size_t end = log.find('\n', start);
        const std::string line = log.substr(start, end - start);
        messages.push_back(line.substr(line.find(' ') + 1));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return messages;
}

struct ClientResult {
    DWORD exit_code = 0;
    std::string response;
    std::vector<std::string> log_seen;
};

class PipeServer : public ::testing::Test {
  protected:
    void SetUp() override {
        settings_.pipe_name = unique_pipe_name();
        settings_.request_deadline = std::chrono::milliseconds(300);
        settings_.response_deadline = std::chrono::milliseconds(300);
    }

    void TearDown() override {
        if (thread_) {
            stop_.request_stop();
            // A server that missed the stop event still ends after one more connection.
            if (!server_ended(10000)) {
                const UniqueFile wake(CreateFileW(settings_.pipe_name.c_str(),
                                                  GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
            }
            WaitForSingleObject(thread_.get(), INFINITE);
        }
    }

    void start_server() {
        thread_.reset(CreateThread(nullptr, 0, &PipeServer::serve, this, 0, nullptr));
        ASSERT_TRUE(thread_);
        // Listening once the pipe name exists.
        for (int attempt = 0;
             attempt < 500 && WaitNamedPipeW(settings_.pipe_name.c_str(), 100) == 0; ++attempt) {
            Sleep(10);
        }
    }

    // True when the server returned within `timeout_ms`.
    bool server_ended(DWORD timeout_ms) {
        return WaitForSingleObject(thread_.get(), timeout_ms) == WAIT_OBJECT_0;
    }

    // The allowed client: a copy of this executable as "vemlox.exe" in the service's folder.
    ClientResult run_client(const std::optional<std::string>& request) {
        const std::wstring client = folder_.file(L"vemlox.exe");
        if (GetFileAttributesW(client.c_str()) == INVALID_FILE_ATTRIBUTES) {
            wchar_t self[MAX_PATH] = {};
            GetModuleFileNameW(nullptr, self, MAX_PATH);
            EXPECT_NE(CopyFileW(self, client.c_str(), FALSE), 0);
        }
        const std::wstring out =
            folder_.file(L"client-" + std::to_wstring(++clients_run_) + L".out");
        SetEnvironmentVariableW(CLIENT_PIPE_VARIABLE, settings_.pipe_name.c_str());
        SetEnvironmentVariableW(CLIENT_SEND_VARIABLE,
                                request ? to_wide(*request).c_str() : nullptr);
        SetEnvironmentVariableW(CLIENT_LOG_VARIABLE, folder_.file(L"service.log").c_str());
        SetEnvironmentVariableW(CLIENT_OUT_VARIABLE, out.c_str());
        std::wstring command_line = L"\"" + client + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        const BOOL started = CreateProcessW(client.c_str(), command_line.data(), nullptr, nullptr,
                                            FALSE, 0, nullptr, nullptr, &startup, &process);
        for (const wchar_t* name : {CLIENT_PIPE_VARIABLE, CLIENT_SEND_VARIABLE, CLIENT_LOG_VARIABLE,
                                    CLIENT_OUT_VARIABLE}) {
            SetEnvironmentVariableW(name, nullptr);
        }
        ClientResult result;
        if (started == 0) {
            ADD_FAILURE() << "client not started: " << GetLastError();
            return result;
        }
        const UniqueHandle process_handle(process.hProcess);
        const UniqueHandle thread_handle(process.hThread);
        if (WaitForSingleObject(process_handle.get(), 30000) != WAIT_OBJECT_0) {
            TerminateProcess(process_handle.get(), 99);
            ADD_FAILURE() << "client still waiting after 30 s";
        }
        GetExitCodeProcess(process_handle.get(), &result.exit_code);
        result.response = read_file(out).value_or("<no output>");
        result.log_seen = messages_of(read_file(out + L".log").value_or(""));
        return result;
    }

    [[nodiscard]] std::vector<std::string> log() const {
        return messages_of(read_file(folder_.file(L"service.log")).value_or(""));
    }

    [[nodiscard]] std::string own_path() const {
        return to_utf8(folder_.file(L"vemlox-service.exe"));
    }

    TempFolder folder_;
    PipeServerSettings settings_;
    StopSignal stop_;
    FakeOperations operations_;
    std::optional<std::expected<void, std::string>> result_;

  private:
    static DWORD WINAPI serve(LPVOID self) {
        auto* test = static_cast<PipeServer*>(self);
        test->result_ = serve_pipe(test->folder_.path(), test->own_path(), test->stop_,
                                   test->operations_, test->settings_);
        return 0;
    }

    UniqueHandle thread_;
    int clients_run_ = 0;
};

TEST_F(PipeServer, AnswersTheOwnClientAndLogsBeforeResponding) {
    start_server();
    FakeOperations expected_operations;
    for (const std::string& request : {PING, RENEW_IP}) {
        const Outcome expected = handle_request(request, expected_operations);
        const ClientResult client = run_client(request + "\n");
        EXPECT_EQ(client.exit_code, 0u);
        EXPECT_EQ(client.response, encode_response(expected.response)) << request;
        ASSERT_FALSE(client.log_seen.empty());
        EXPECT_EQ(client.log_seen.back(), expected.log_message) << request;
    }
    stop_.request_stop();
    ASSERT_TRUE(server_ended(10000));
    ASSERT_TRUE(result_ && *result_);
    EXPECT_EQ(operations_.calls.load(), expected_operations.calls.load());
    EXPECT_EQ(log().size(), 2u);
}

TEST_F(PipeServer, RejectsACallerFromAnotherFolderWithoutReadingItsRequest) {
    start_server();
    const UniqueFile pipe = connect_to(settings_.pipe_name);
    ASSERT_TRUE(pipe);
    send(pipe.get(), RENEW_IP + "\n");
    const std::string response = read_line(pipe.get());
    // Logged before the response was written.
    const std::vector<std::string> seen = log();
    EXPECT_EQ(response + read_to_end(pipe.get()), rejection("caller not allowed"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "rejected caller " + quoted(this_process_image()));
    stop_.request_stop();
    ASSERT_TRUE(server_ended(10000));
    EXPECT_EQ(operations_.calls.load(), 0);
}

TEST_F(PipeServer, RefusesAnOwnClientThatSendsNoCompleteLineInTime) {
    start_server();
    for (const std::optional<std::string>& request :
         {std::optional<std::string>{}, std::optional<std::string>{R"({"op":)"}}) {
        const ClientResult client = run_client(request);
        EXPECT_EQ(client.exit_code, 0u);
        EXPECT_EQ(client.response, rejection("request too large or incomplete"));
        ASSERT_FALSE(client.log_seen.empty());
        EXPECT_EQ(client.log_seen.back(), "rejected: request too large or incomplete");
    }
    // And the next client is served as usual.
    EXPECT_EQ(run_client(PING + "\n").response, encode_response(OkResponse{}));
}

TEST_F(PipeServer, RefusesAnOverlongLine) {
    start_server();
    const ClientResult client = run_client(std::string(MAX_REQUEST_BYTES + 1, 'x'));
    EXPECT_EQ(client.response, rejection("request too large or incomplete"));
}

TEST_F(PipeServer, AClientThatNeverReadsDoesNotHoldThePipe) {
    start_server();
    // This process is rejected; it keeps its end open and never reads the rejection.
    const UniqueFile stalled = connect_to(settings_.pipe_name);
    ASSERT_TRUE(stalled);
    const ClientResult next = run_client(PING + "\n");
    EXPECT_EQ(next.exit_code, 0u);
    EXPECT_EQ(next.response, encode_response(OkResponse{}));
    const std::vector<std::string> seen = log();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "rejected caller " + quoted(this_process_image()));
}

TEST_F(PipeServer, StopWhileWaitingForAClientEndsAtOnceWithoutALogLine) {
    start_server();
    stop_.request_stop();
    ASSERT_TRUE(server_ended(10000));
    ASSERT_TRUE(result_ && *result_);
    EXPECT_TRUE(log().empty());
    // The pipe is closed: nobody can connect any more.
    EXPECT_FALSE(UniqueFile(CreateFileW(settings_.pipe_name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        0, nullptr, OPEN_EXISTING, 0, nullptr)));
}

TEST_F(PipeServer, StopDuringARequestLetsTheClientTakeItsResponseFirst) {
    settings_.response_deadline = std::chrono::milliseconds(60000);
    start_server();
    const UniqueFile pipe = connect_to(settings_.pipe_name);
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
    EXPECT_EQ(read_to_end(pipe.get()), rejection("caller not allowed"));
    ASSERT_TRUE(server_ended(10000));
    ASSERT_TRUE(result_ && *result_);
}

TEST_F(PipeServer, FailsSetupWhenThePipeNameIsTaken) {
    const UniqueFile squatter(CreateNamedPipeW(settings_.pipe_name.c_str(), PIPE_ACCESS_DUPLEX, 0,
                                               1, 512, 512, 0, nullptr));
    ASSERT_TRUE(squatter);
    // Already stopped: a server that did start would return success at once.
    stop_.request_stop();
    const auto result = serve_pipe(folder_.path(), own_path(), stop_, operations_, settings_);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().starts_with("create pipe: ")) << result.error();
    EXPECT_GT(result.error().size(), std::string("create pipe: ").size());
    EXPECT_TRUE(log().empty());
}

TEST_F(PipeServer, AlreadyStoppedServerReturnsWithoutServing) {
    stop_.request_stop();
    const auto result = serve_pipe(folder_.path(), own_path(), stop_, operations_, settings_);
    EXPECT_TRUE(result);
    EXPECT_TRUE(log().empty());
}

} // namespace
} // namespace vemlox::win
