// Where the product is installed: the folder "Vemlox" under the Program Files folder.
#pragma once

#include "protocol/text_result.hpp"

#include <expected>
#include <string>
#include <string_view>

namespace vemlox::win {

inline constexpr std::string_view PROGRAM_FILES_NOT_SET = "ProgramFiles is not set";

// The environment variable "ProgramFiles" joined with "Vemlox"; "ProgramFiles is not set" when
// the variable does not exist. Creates nothing.
[[nodiscard]] TextResult<std::wstring> install_dir();

} // namespace vemlox::win
