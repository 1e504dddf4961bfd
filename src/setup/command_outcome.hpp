// What a console command gives back (a success or a failure message, one line each, printed by
// the process entry), and the failure texts the install and uninstall commands share.
#pragma once

#include "protocol/text_result.hpp"
#include "win32_shared/product_names.hpp"

#include <expected>
#include <string>
#include <string_view>

namespace vemlox::win {

using CommandOutcome = TextResult<std::string>;

// "<what>: IO error in winapi call": Service Control Manager failures are shown without a code.
[[nodiscard]] inline std::string scm_failure(std::string_view what) {
    return std::string(what) + ": " + std::string(SCM_ERROR_TEXT);
}

// Opening the Service Control Manager for changes is what needs administrator rights.
[[nodiscard]] inline std::string run_as_administrator() {
    return "Run this as administrator (" + std::string(SCM_ERROR_TEXT) + ").";
}

} // namespace vemlox::win
