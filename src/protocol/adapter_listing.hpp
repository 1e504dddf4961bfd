// Decoding the output of the adapter-listing scripts: a JSON array of rows or of names.
#pragma once

#include "protocol/request.hpp"

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace vemlox {

// Failures are the JSON reader's description followed by " at line L column C" where known.
[[nodiscard]] std::expected<std::vector<Row>, std::string> decode_rows(std::string_view json);
[[nodiscard]] std::expected<std::vector<std::string>, std::string>
decode_names(std::string_view json);

} // namespace vemlox
