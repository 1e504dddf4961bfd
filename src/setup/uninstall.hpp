// The "uninstall" command: the service stopped and taken out of the Service Control Manager, its
// files left.
#pragma once

#include "protocol/text_result.hpp"

#include <expected>
#include <string>

namespace vemlox::win {

// The exit code of an uninstall that deleted the service while it was still running after the
// whole stop wait: the Service Control Manager removes it once it stops, and until then its files
// are in use. Every other failure exits with 1.
inline constexpr unsigned EXIT_REMOVED_STILL_RUNNING = 3;

// A failure message and the exit code that tells a script what was left.
struct UninstallFailure {
    std::string message;
    unsigned exit_code = 1;
};

using UninstallOutcome = std::expected<std::string, UninstallFailure>;

// Stops the service and waits for it as install does, then deletes its registration, also when
// the wait ended before the service stopped. Deletes no files; the success message names the
// folder that can now be emptied.
[[nodiscard]] UninstallOutcome uninstall_command();

// What uninstall says once the service is deleted: the folder can be emptied, or (when the
// service had not stopped) that it is still running; "ProgramFiles is not set" without a folder.
[[nodiscard]] UninstallOutcome removed_service_report(bool has_stopped,
                                                      const TextResult<std::wstring>& folder);

} // namespace vemlox::win
