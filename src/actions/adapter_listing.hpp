// What the adapter-listing PowerShell scripts print: a JSON array of rows or of names, read with
// the protocol's strict JSON reader (not the wire, but the same JSON rules and failure texts).
#pragma once

#include "protocol/text_result.hpp"

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace vemlox {

// One physical adapter as the adapter-listing script prints it.
struct Row {
    std::string name;
    bool disabled = false;
    friend bool operator==(const Row&, const Row&) = default;
};

// Failures are the JSON reader's description followed by " at line L column C" where known.
[[nodiscard]] TextResult<std::vector<Row>> decode_rows(std::string_view json);
[[nodiscard]] TextResult<std::vector<std::string>> decode_names(std::string_view json);

} // namespace vemlox
