// The checks that read this tree's own files (the docs, the tests, the client's sources) to find
// each operation where nothing can derive it: reading a file, and the names an operation goes by.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <string_view>

namespace vemlox::test_support {

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file) << "cannot open " << path;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// `path` relative to the top of the source tree.
inline std::string read_source(const std::string& path) {
    return read_file(VEMLOX_SOURCE_DIR "/" + path);
}

// "use_public_dns" -> "use-public-dns", as vemlox-client names its command.
inline std::string command_of(std::string_view op) {
    std::string command(op);
    std::ranges::replace(command, '_', '-');
    return command;
}

} // namespace vemlox::test_support
