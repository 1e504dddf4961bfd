// What the request types cannot give the client by themselves: every operation of OP_NAMES has its
// typed call in the public header and its command in vemlox-client.
#include "protocol/request.hpp"
#include "tool_commands.hpp"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <string_view>

namespace vemlox::client {
namespace {

// "use_public_dns" -> "use-public-dns", as vemlox-client names its command.
std::string command_of(std::string_view op) {
    std::string command(op);
    std::ranges::replace(command, '_', '-');
    return command;
}

TEST(EveryOperation, HasItsTypedCall) {
    std::ifstream file(VEMLOX_SOURCE_DIR "/client/include/vemlox/client.hpp", std::ios::binary);
    ASSERT_TRUE(file);
    std::ostringstream header;
    header << file.rdbuf();
    for (const std::string_view op : OP_NAMES) {
        const std::string call = std::string(op) + "(";
        EXPECT_TRUE(header.str().find(" " + call) != std::string::npos ||
                    header.str().find("\n" + call) != std::string::npos)
            << "client/include/vemlox/client.hpp declares no call " << call << "...)";
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
