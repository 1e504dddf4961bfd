#include "machine/process_tree_job.hpp"

namespace vemlox::win {

std::expected<ProcessTreeJob, std::uint32_t> ProcessTreeJob::create() {
    // Unnamed and not inheritable: no other process can hold a handle that keeps the job alive.
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        return std::unexpected(GetLastError());
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof(limits))) {
        return std::unexpected(GetLastError());
    }
    return ProcessTreeJob(std::move(job));
}

std::uint32_t ProcessTreeJob::assign(HANDLE process) const {
    return AssignProcessToJobObject(job_.get(), process) ? ERROR_SUCCESS : GetLastError();
}

void ProcessTreeJob::end() {
    if (job_) {
        // Closing the last handle would end them as well; terminating first does not depend on
        // ours being the last one.
        static_cast<void>(TerminateJobObject(job_.get(), ERROR_PROCESS_ABORTED));
        job_.reset();
    }
}

} // namespace vemlox::win
