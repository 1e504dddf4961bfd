// The environment handed to a child: our own with a few variables set, as one UTF-16 block.
#pragma once

#include "actions/program_runner.hpp"

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vemlox::win {

// The "NAME=value" entries of a block as GetEnvironmentStringsW returns it (each entry ends with a
// NUL, the block with one more). Stops at the block's end, or at `block.size()` if it is cut short.
[[nodiscard]] std::vector<std::wstring> split_environment_block(std::wstring_view block);

// The entries with every pair set: a pair replaces each entry whose name equals its own without
// regard to case (Windows looks names up that way, and a child would otherwise see whichever
// came first), a later pair replaces an earlier one. Sorted by name without regard to case, as
// CreateProcessW expects, and ending with the block's closing NUL.
[[nodiscard]] std::wstring build_environment_block(std::span<const std::wstring> inherited,
                                                   std::span<const EnvironmentPair> pairs);

// The process's own environment as entries, or the Windows error code of reading it.
[[nodiscard]] std::expected<std::vector<std::wstring>, std::uint32_t> own_environment();

} // namespace vemlox::win
