// One output stream of a child program, read to its end on a thread of its own, so that the
// child can never block on a full pipe while we wait for it or read its other stream.
#pragma once

#include "win32_shared/unique_handle.hpp"
#include "win32_shared/win32_result.hpp"

#include <memory>
#include <string>
#include <windows.h>

namespace vemlox::win {

class OutputReader {
  public:
    // Starts reading `read_end`, a pipe's read end. When no thread can be started, the read end
    // is closed at once, so that the child's writes fail instead of blocking, and `finish` gives
    // the reason.
    explicit OutputReader(UniqueHandle read_end);
    OutputReader(OutputReader&&) noexcept = default;
    OutputReader& operator=(OutputReader&&) noexcept = default;
    OutputReader(const OutputReader&) = delete;
    OutputReader& operator=(const OutputReader&) = delete;
    ~OutputReader() = default;

    // Call once everything that could write to the pipe has ended (the child's job): gives all
    // that was read, or the Windows error of the read. The read ends by itself as the system tears
    // the job's processes down; should a process outside the job hold a write end, the read is
    // cancelled after a grace period, so that this never hangs.
    [[nodiscard]] Win32Result<std::string> finish();

  private:
    struct Drain;

    std::shared_ptr<Drain> drain_;
    UniqueHandle thread_;
    std::uint32_t start_error_ = ERROR_SUCCESS;
};

} // namespace vemlox::win
