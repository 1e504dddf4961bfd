// The operations on this machine: the actions wired to the real process runner, registry and
// System Restore.
#pragma once

#include "actions/operations.hpp"

#include <memory>
#include <string>

namespace vemlox::win {

// `own_folder` is the folder of the running service executable, where programs are looked up first.
[[nodiscard]] std::unique_ptr<Operations> make_machine_operations(const std::wstring& own_folder);

} // namespace vemlox::win
