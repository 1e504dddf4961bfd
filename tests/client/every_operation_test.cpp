// What the request types cannot give the client by themselves: every operation of OP_NAMES has its
// typed call in the public header, defined in calls.cpp, and its command in vemlox-client.
#include "protocol/request.hpp"
#include "support/source_tree.hpp"
#include "tool_commands.hpp"

#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace vemlox::client {
namespace {

using vemlox::test_support::command_of;
using vemlox::test_support::read_source;

// Declared for the app, and defined.
TEST(EveryOperation, HasItsTypedCall) {
    for (const std::string path : {"client/include/vemlox/client.hpp", "client/calls.cpp"}) {
        const std::string source = read_source(path);
        for (const std::string_view op : OP_NAMES) {
            const std::string call = std::string(op) + "(";
            EXPECT_TRUE(source.find(" " + call) != std::string::npos ||
                        source.find("\n" + call) != std::string::npos)
                << path << " has no call " << call << "...)";
        }
    }
}

// Each command is in the usage text and is known, whatever its arguments.
TEST(EveryOperation, HasItsToolCommand) {
    for (const std::string_view op : OP_NAMES) {
        const std::string command = command_of(op);
        EXPECT_NE(USAGE.find("\n  " + command), std::string::npos)
            << "vemlox-client's usage does not list " << command;
        const auto parsed = parse_command(command, {});
        EXPECT_TRUE(parsed || !parsed.error().starts_with("unknown command"))
            << "vemlox-client has no command " << command;
    }
}

} // namespace
} // namespace vemlox::client
