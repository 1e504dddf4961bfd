// The environment handed to a child: our own with the search paths of the system alone and a few
// variables set, as one UTF-16 block.
#pragma once

#include "actions/program_runner.hpp"
#include "win32_shared/win32_result.hpp"

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

// The search paths a child gets in place of ours, from the system folders alone
// (GetSystemDirectoryW and GetWindowsDirectoryW). The PATH and PSModulePath we inherit are the
// machine's, which any installer may extend with a folder users can write to; a DLL or module
// planted there would run in the child as LocalSystem. An empty folder (its query failed) adds
// nothing.
struct SearchPaths {
    std::wstring path;
    std::wstring module_path;
};
[[nodiscard]] SearchPaths system_search_paths(std::wstring_view system_folder,
                                              std::wstring_view windows_folder);

// The block for a child program: `inherited` with PATH and PSModulePath replaced by the system
// search paths of this machine, then with every pair set as build_environment_block does.
[[nodiscard]] std::wstring child_environment_block(std::span<const std::wstring> inherited,
                                                   std::span<const EnvironmentPair> pairs);

// The process's own environment as entries, or the Windows error code of reading it.
[[nodiscard]] Win32Result<std::vector<std::wstring>> own_environment();

} // namespace vemlox::win
