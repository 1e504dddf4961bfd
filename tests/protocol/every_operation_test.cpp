// What the request types cannot give by themselves: every operation of OP_NAMES is described for
// app developers in docs/protocol.md's table, has its action's rules tested in tests/actions/ and
// is sent through the installed service by the end-to-end tests (tests/e2e/test_operations.py,
// with vemlox-client's command for it).
#include "protocol/request.hpp"
#include "support/source_tree.hpp"

#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace vemlox {
namespace {

using test_support::command_of;
using test_support::read_file;
using test_support::read_source;

// "use_public_dns" -> "UsePublicDns", the name of its request type.
std::string type_of(std::string_view op) {
    std::string type;
    bool word_start = true;
    for (const char c : op) {
        if (c == '_') {
            word_start = true;
            continue;
        }
        type += word_start ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        word_start = false;
    }
    return type;
}

TEST(EveryOperation, HasItsRowInTheProtocolPage) {
    const std::string page = read_source("docs/protocol.md");
    for (const std::string_view op : OP_NAMES) {
        EXPECT_NE(page.find("\n| `" + std::string(op) + "` |"), std::string::npos)
            << "docs/protocol.md: the table of operations has no row for " << op;
    }
}

// Named by its request type (request::UsePublicDns) or its request line ("op":"ping") in a test
// of tests/actions/.
TEST(EveryOperation, IsTestedWithTheActions) {
    std::string tests;
    for (const auto& entry :
         std::filesystem::directory_iterator(VEMLOX_SOURCE_DIR "/tests/actions")) {
        if (entry.path().filename().string().ends_with("_test.cpp")) {
            tests += read_file(entry.path());
        }
    }
    for (const std::string_view op : OP_NAMES) {
        const std::string type = "request::" + type_of(op);
        const std::string line = "\"op\":\"" + std::string(op) + '"';
        EXPECT_TRUE(tests.find(type) != std::string::npos || tests.find(line) != std::string::npos)
            << "no test in tests/actions/ names " << type << " or " << line;
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
