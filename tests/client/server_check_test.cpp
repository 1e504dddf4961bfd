#include "server_check.hpp"

#include <gtest/gtest.h>

namespace vemlox::client {
namespace {

using State = ServiceProcess::State;

struct Case {
    std::uint32_t pipe_server;
    ServiceProcess service;
    std::optional<std::string> message;
};

TEST(ServerCheck, TrustsOnlyTheRunningServiceProcess) {
    const std::string pipe = R"(\\.\pipe\vemlox is served by process 40)";
    const Case cases[] = {
        {40, {State::Running, 40}, std::nullopt},
        // While it starts, the service's process is known and may already serve.
        {40, {State::Starting, 40}, std::nullopt},
        {40,
         {State::Running, 41},
         pipe + " while the Vemlox service is process 41; nothing was sent"},
        // A stopped service reports process 0; a server that is process 0 is still nobody's.
        {0,
         {State::NotRunning, 0},
         R"(\\.\pipe\vemlox is served by process 0, but the Vemlox service is not running; nothing was sent)"},
        {40,
         {State::NotInstalled, 0},
         pipe + ", but the Vemlox service is not installed; nothing was sent"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(untrusted_server(c.pipe_server, c.service), c.message) << c.pipe_server;
    }
}

} // namespace
} // namespace vemlox::client
