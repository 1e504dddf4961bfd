#include "machine/process_tree_job.hpp"

namespace vemlox::win {

Win32Result<ProcessTreeJob> ProcessTreeJob::create() {
    // Unnamed and not inheritable: no other process can hold a handle that keeps the job alive.
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        return last_error();
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof(limits))) {
        return last_error();
    }
    return ProcessTreeJob(std::move(job));
}

Win32Result<void> ProcessTreeJob::assign(HANDLE process) const {
    if (!AssignProcessToJobObject(job_.get(), process)) {
        return last_error();
    }
    return {};
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
