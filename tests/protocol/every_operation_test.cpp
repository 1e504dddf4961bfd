// What the request types cannot give by themselves: every operation of OP_NAMES is described for
// app developers in docs/protocol.md's table and sent through the installed service by the
// end-to-end tests (tests/e2e/test_operations.py, with vemlox-client's command for it).
#include "protocol/request.hpp"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <string_view>

namespace vemlox {
namespace {

std::string read_source(const std::string& path) {
    std::ifstream file(VEMLOX_SOURCE_DIR "/" + path, std::ios::binary);
    EXPECT_TRUE(file) << "cannot open " << path;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// "use_public_dns" -> "use-public-dns", as vemlox-client names its command.
std::string command_of(std::string_view op) {
    std::string command(op);
    std::ranges::replace(command, '_', '-');
    return command;
}

TEST(EveryOperation, HasItsRowInTheProtocolPage) {
    const std::string page = read_source("docs/protocol.md");
    for (const std::string_view op : OP_NAMES) {
        EXPECT_NE(page.find("\n| `" + std::string(op) + "` |"), std::string::npos)
            << "docs/protocol.md: the table of operations has no row for " << op;
    }
}

TEST(EveryOperation, IsSentByTheEndToEndTests) {
    const std::string module = read_source("tests/e2e/test_operations.py");
    for (const std::string_view op : OP_NAMES) {
        EXPECT_NE(module.find('"' + command_of(op) + '"'), std::string::npos)
            << "tests/e2e/test_operations.py: no case sends \"" << command_of(op) << '"';
    }
}

} // namespace
} // namespace vemlox
