// Starting a program on this machine the way the operations need it: looked up in trusted
// folders only, no window, standard input from the null device, both output streams captured and
// handed on as UTF-8 (read from the OEM code page unless they are UTF-8 already), and never for
// longer than a time limit, after which it and everything it started are ended.
#pragma once

#include "actions/program_runner.hpp"

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vemlox::win {

// The folders a program is looked up in, in this order: our own folder, the system folder, the
// system folder's WindowsPowerShell\v1.0 and the Windows folder. Never PATH and never the current
// folder: we run as LocalSystem, and a PATH folder or the current folder may be writable by users.
[[nodiscard]] std::vector<std::wstring> trusted_program_folders(const std::wstring& own_folder);

// The path of the first file named `program` in `folders`. A name with a folder part, a drive or
// a stream in it is never found, so the name cannot lead outside the folders.
[[nodiscard]] std::optional<std::wstring> find_program(std::wstring_view program,
                                                       std::span<const std::wstring> folders);

class WinProgramRunner final : public ProgramRunner {
  public:
    // `own_folder` is the folder of the running service executable. A program that has not ended
    // within `time_limit` is ended with everything it started, and its run fails with
    // "<program> did not finish within <seconds> s". Whatever a program leaves running when it
    // ends is ended too, so that no run outlasts its program.
    WinProgramRunner(std::wstring own_folder, std::chrono::seconds time_limit)
        : own_folder_(std::move(own_folder)), time_limit_(time_limit) {}

    [[nodiscard]] ActionResult<ProgramOutcome>
    run(std::string_view program, std::span<const std::string> arguments,
        std::span<const EnvironmentPair> environment) override;

  private:
    std::wstring own_folder_;
    std::chrono::seconds time_limit_;
};

} // namespace vemlox::win
