#include "failure_kinds.hpp"
#include "typed_call.hpp"
#include "win32_shared/unique_handle.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

namespace vemlox::client {
namespace {

using Kind = Error::Kind;
using State = ServiceProcess::State;

TEST(FailureKinds, EachFailureIsOneErrorKind) {
    // The service's answers as they arrive, and lines that are no answer at all.
    const std::pair<std::string, Kind> lines[] = {
        {R"({"status":"error","kind":"rejected","message":"caller not allowed"})", Kind::Rejected},
        {R"({"status":"error","kind":"not_found","message":"item not found: x"})", Kind::NotFound},
        {R"({"status":"error","kind":"failed","message":"os error 5"})", Kind::Failed},
        {R"({"status":"error","kind":"busy","message":"x"})", Kind::BadResponse},
        {R"({"status":"ok"})", Kind::BadResponse},
    };
    for (const auto& [line, kind] : lines) {
        const auto answer = read_answer(line, {});
        ASSERT_FALSE(answer.has_value()) << line;
        EXPECT_EQ(answer.error().kind, kind) << line;
        EXPECT_EQ(answer.error().is_error_answer(), kind != Kind::BadResponse) << line;
    }
    EXPECT_EQ(read_answer(lines[0].first, {}).error().message, "caller not allowed");
    const auto ok = read_answer(R"({"status":"ok","version":1,"names":["Wi-Fi"]})", reply::Names{});
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(ok->payload, OkPayload(reply::Names{{"Wi-Fi"}}));

    // How a bounded read or write of the pipe ended.
    const std::pair<DWORD, Kind> transfers[] = {
        {WAIT_TIMEOUT, Kind::TimedOut},
        {ERROR_CANCELLED, Kind::Cancelled},
        {ERROR_NO_DATA, Kind::ConnectionLost},
        {ERROR_BROKEN_PIPE, Kind::ConnectionLost},
    };
    for (const auto& [code, kind] : transfers) {
        EXPECT_EQ(kind_of_transfer_failure(code), kind) << code;
    }

    // Nobody serves the pipe: the service is absent or stopped, or the call waits for its pipe.
    const std::pair<State, std::optional<Kind>> states[] = {
        {State::NotInstalled, Kind::NotInstalled},
        {State::NotRunning, Kind::Stopped},
        {State::Starting, std::nullopt},
        {State::Running, std::nullopt},
    };
    for (const auto& [state, kind] : states) {
        EXPECT_EQ(kind_when_nobody_serves(state), kind) << static_cast<int>(state);
    }
}

TEST(Cancellation, AStopEndsTheWaitForABusyServiceAtOnce) {
    // The pipe's one instance, taken by another client: a call waits for it to come free.
    const wchar_t* name = LR"(\\.\pipe\vemlox)";
    const win::UniqueHandle server(
        CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr));
    ASSERT_TRUE(server);
    const win::UniqueHandle other(
        CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(other);
    std::stop_source stop;
    const std::jthread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });
    const auto started = std::chrono::steady_clock::now();
    const auto pinged = ping({.busy_wait = std::chrono::seconds(20), .stop = stop.get_token()});
    ASSERT_FALSE(pinged.has_value());
    EXPECT_EQ(pinged.error().kind, Kind::Cancelled) << pinged.error().message;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

} // namespace
} // namespace vemlox::client
