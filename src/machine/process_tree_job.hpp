// A job object that holds one child program and everything it starts, so that all of them can be
// ended together: nothing a child leaves behind outlives its run.
#pragma once

#include "win32_shared/unique_handle.hpp"
#include "win32_shared/win32_result.hpp"

#include <windows.h>

namespace vemlox::win {

class ProcessTreeJob {
  public:
    // A new, empty job whose processes are all ended when its handle closes: when `end` is called,
    // when the owner goes out of scope on any path, or when this process dies.
    [[nodiscard]] static Win32Result<ProcessTreeJob> create();

    // The job's handle, for a process to be created in it; owned by the job.
    [[nodiscard]] HANDLE get() const { return job_.get(); }

    // Puts a process, created suspended so that it cannot start anything before, into the job.
    // Every process it then creates joins the job too: breakaway is never allowed. A process that
    // is in a job already (ours may be, if whoever started us uses one) is nested below it.
    [[nodiscard]] Win32Result<void> assign(HANDLE process) const;

    // Ends every process in the job and closes it. The processes' handles, pipe ends among them,
    // close as the system tears them down.
    void end();

  private:
    explicit ProcessTreeJob(UniqueHandle job) : job_(std::move(job)) {}

    UniqueHandle job_;
};

} // namespace vemlox::win
