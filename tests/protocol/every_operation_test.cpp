// What the request types cannot give by themselves: every operation of OP_NAMES is described for
// app developers in docs/protocol.md's table, has its action's rules tested in tests/actions/, is
// sent through the installed service by the end-to-end tests (tests/e2e/test_operations.py, with
// vemlox-client's command for it), and has its call in the Node package, declared, exported to
// both module systems and made by the package's end-to-end test.
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

// "use_public_dns" -> "usePublicDns", the name of its call in the Node package.
std::string call_of(std::string_view op) {
    std::string call = type_of(op);
    call[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(call[0])));
    return call;
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

// Defined and exported by index.js, re-exported by index.mjs, declared by index.d.ts (which
// index.d.mts re-exports).
TEST(EveryOperation, HasItsNodeCall) {
    const std::string source = read_source("clients/node/index.js");
    const std::size_t exports = source.find("\nmodule.exports = {");
    ASSERT_NE(exports, std::string::npos) << "clients/node/index.js: no module.exports";
    const std::string module = read_source("clients/node/index.mjs");
    const std::string declarations = read_source("clients/node/index.d.ts");
    for (const std::string_view op : OP_NAMES) {
        const std::string call = call_of(op);
        EXPECT_NE(source.find("\nasync function " + call + "("), std::string::npos)
            << "clients/node/index.js: no call " << call << " for " << op;
        EXPECT_NE(source.find("\n  " + call + ",\n", exports), std::string::npos)
            << "clients/node/index.js: " << call << " is not in module.exports";
        EXPECT_NE(module.find("\n  " + call + ",\n"), std::string::npos)
            << "clients/node/index.mjs does not export " << call;
        EXPECT_NE(declarations.find("\nexport declare function " + call + "("), std::string::npos)
            << "clients/node/index.d.ts does not declare " << call;
    }
}

TEST(EveryOperation, IsCalledByTheNodeEndToEndTest) {
    const std::string module = read_source("tests/e2e/test_node_client.py");
    for (const std::string_view op : OP_NAMES) {
        EXPECT_NE(module.find("self.call(\"" + call_of(op) + '"'), std::string::npos)
            << "tests/e2e/test_node_client.py: no case calls " << call_of(op);
    }
}

} // namespace
} // namespace vemlox
