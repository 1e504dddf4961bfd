#include "machine/program_runner_win.hpp"

#include "machine/console_output_text.hpp"
#include "machine/environment_block.hpp"
#include "machine/output_reader.hpp"
#include "machine/process_tree_job.hpp"
#include "win32_shared/child_command_line.hpp"
#include "win32_shared/deadline.hpp"
#include "win32_shared/os_error_text.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"
#include "win32_shared/win32_result.hpp"

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <vector>
#include <windows.h>

namespace vemlox::win {

namespace {

constexpr DWORD PIPE_BUFFER_BYTES = 64 * 1024;

ActionError os_error(std::uint32_t code) {
    return ActionError::os_error(os_error_text(code));
}

struct Pipe {
    UniqueHandle read;
    UniqueHandle write; // the child's end, inheritable
};

[[nodiscard]] Win32Result<Pipe> make_output_pipe() {
    Pipe pipe;
    if (!CreatePipe(pipe.read.put(), pipe.write.put(), nullptr, PIPE_BUFFER_BYTES)) {
        return last_error();
    }
    if (!SetHandleInformation(pipe.write.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
        return last_error();
    }
    return pipe;
}

// The child's standard handles: the null device for input, a pipe for each output stream.
struct ChildStreams {
    UniqueHandle input;
    Pipe output;
    Pipe error;
};

[[nodiscard]] Win32Result<ChildStreams> open_child_streams() {
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    ChildStreams streams;
    streams.input.reset(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!streams.input) {
        return last_error();
    }
    VEMLOX_ASSIGN_OR_RETURN(streams.output, make_output_pipe());
    VEMLOX_ASSIGN_OR_RETURN(streams.error, make_output_pipe());
    return streams;
}

// The attribute list of a child: only its own standard handles may reach it, and, where given,
// it is created in a job.
class ChildAttributes {
  public:
    ChildAttributes() = default;
    ChildAttributes(const ChildAttributes&) = delete;
    ChildAttributes& operator=(const ChildAttributes&) = delete;
    ~ChildAttributes() {
        if (initialized_) {
            DeleteProcThreadAttributeList(list());
        }
    }

    // The list holds pointers to `handles` and `job`, which must stay alive until CreateProcessW.
    [[nodiscard]] Win32Result<void> set(std::span<HANDLE> handles, const HANDLE* job) {
        const DWORD count = job == nullptr ? 1 : 2;
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, count, 0, &size);
        storage_.resize(size);
        if (!InitializeProcThreadAttributeList(list(), count, 0, &size)) {
            return last_error();
        }
        initialized_ = true;
        if (!UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                       handles.size_bytes(), nullptr, nullptr)) {
            return last_error();
        }
        if (job != nullptr && !UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_JOB_LIST,
                                                         const_cast<HANDLE*>(job), sizeof(HANDLE),
                                                         nullptr, nullptr)) {
            return last_error();
        }
        return {};
    }

    [[nodiscard]] LPPROC_THREAD_ATTRIBUTE_LIST list() {
        return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    }

  private:
    std::vector<std::byte> storage_;
    bool initialized_ = false;
};

// The command line that starts `path` with `arguments`, quoted as the child splits it.
[[nodiscard]] std::wstring command_line_of(const std::wstring& path,
                                           std::span<const std::string> arguments) {
    std::vector<std::wstring> wide_arguments;
    wide_arguments.reserve(arguments.size());
    for (const std::string& argument : arguments) {
        wide_arguments.push_back(to_wide(argument));
    }
    return build_command_line(path, wide_arguments);
}

// What CreateProcessW needs besides its flags: the program, its command line and environment, and
// the child's ends of its streams.
struct ChildLaunch {
    const std::wstring& path;
    std::wstring& command_line;
    std::wstring& environment_block;
    const ChildStreams& streams;
};

struct CreatedProcess {
    UniqueHandle process;
    UniqueHandle main_thread;
};

// Creates the child with only its three ends inheritable into it: an inherited copy of any other
// handle, such as a pipe end of a program started at the same time, would keep that pipe open for
// as long as this child lives. With `job`, the child is in that job from its first instruction.
[[nodiscard]] Win32Result<CreatedProcess> create_process(const ChildLaunch& launch,
                                                         const HANDLE* job, DWORD extra_flags) {
    std::array<HANDLE, 3> child_handles{launch.streams.input.get(),
                                        launch.streams.output.write.get(),
                                        launch.streams.error.write.get()};
    ChildAttributes attributes;
    VEMLOX_RETURN_IF_ERROR(attributes.set(child_handles, job));

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = child_handles[0];
    startup.StartupInfo.hStdOutput = child_handles[1];
    startup.StartupInfo.hStdError = child_handles[2];
    startup.lpAttributeList = attributes.list();

    PROCESS_INFORMATION started{};
    // The full path goes in as the application name too, so CreateProcessW never searches.
    if (!CreateProcessW(launch.path.c_str(), launch.command_line.data(), nullptr, nullptr, TRUE,
                        extra_flags | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT |
                            EXTENDED_STARTUPINFO_PRESENT,
                        launch.environment_block.data(), nullptr, &startup.StartupInfo, &started)) {
        return last_error();
    }
    return CreatedProcess{UniqueHandle(started.hProcess), UniqueHandle(started.hThread)};
}

// Where Windows predates the job attribute (before Windows 10) it refuses the list.
bool is_refused_attribute(std::uint32_t error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED;
}

// The child created suspended, so that it is in the job before it can start anything. Without the
// job, what the child leaves running could hold its pipes, and the service with them, for ever:
// such a child never runs. A service that dies between the creation and the assignment leaves the
// suspended child behind, which is why this is only the fallback.
[[nodiscard]] Win32Result<UniqueHandle> create_then_assign(const ChildLaunch& launch,
                                                           const ProcessTreeJob& job) {
    VEMLOX_ASSIGN_OR_RETURN(CreatedProcess created,
                            create_process(launch, nullptr, CREATE_SUSPENDED));
    if (auto assigned = job.assign(created.process.get()); !assigned) {
        static_cast<void>(TerminateProcess(created.process.get(), ERROR_PROCESS_ABORTED));
        return std::unexpected(assigned.error());
    }
    if (ResumeThread(created.main_thread.get()) == static_cast<DWORD>(-1)) {
        return last_error(); // the job ends the child as it closes
    }
    return std::move(created.process);
}

// The child, in `job` with everything it starts.
[[nodiscard]] Win32Result<UniqueHandle> create_in_job(const ChildLaunch& launch,
                                                      const ProcessTreeJob& job) {
    const HANDLE job_handle = job.get();
    auto created = create_process(launch, &job_handle, 0);
    if (created) {
        return std::move(created->process);
    }
    if (!is_refused_attribute(created.error())) {
        return std::unexpected(created.error());
    }
    return create_then_assign(launch, job);
}

// A running child, in a job with everything it starts.
struct StartedChild {
    ProcessTreeJob job;
    UniqueHandle process;
};

// Starts the program with the child's ends of `streams` as its standard handles, and closes our
// copies of them once it has its own.
[[nodiscard]] Win32Result<StartedChild> start_child(const ChildLaunch& launch,
                                                    ChildStreams& streams) {
    VEMLOX_ASSIGN_OR_RETURN(ProcessTreeJob job, ProcessTreeJob::create());
    VEMLOX_ASSIGN_OR_RETURN(UniqueHandle process, create_in_job(launch, job));
    // Our copies of the child's ends must go now: the reads end only when no writer is left.
    streams.input.reset();
    streams.output.write.reset();
    streams.error.write.reset();
    return StartedChild{std::move(job), std::move(process)};
}

// How the child ended and what it wrote.
struct FinishedChild {
    std::uint32_t exit_code = 0;
    std::string output;
    std::string error;
};

// Reads both streams at once while the child runs (so a child that fills one pipe while we wait
// on the other can never block), and waits for it for at most `time_limit`. Then, whether it has
// ended or ran out of time, whatever it started goes: a process it left running may hold a copy
// of a pipe's write end, and the reads would never end. WAIT_TIMEOUT when it ran out of time.
[[nodiscard]] Win32Result<FinishedChild> finish_child(StartedChild& child, ChildStreams& streams,
                                                      std::chrono::seconds time_limit) {
    OutputReader output_reader(std::move(streams.output.read));
    OutputReader error_reader(std::move(streams.error.read));
    const Deadline deadline(time_limit);
    const DWORD waited = WaitForSingleObject(child.process.get(), deadline.remaining_ms());
    const auto wait_failure =
        static_cast<std::uint32_t>(waited == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError());
    child.job.end();
    auto output = output_reader.finish();
    auto error = error_reader.finish();
    if (waited != WAIT_OBJECT_0) {
        return std::unexpected(wait_failure);
    }
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(child.process.get(), &exit_code)) {
        return last_error();
    }
    VEMLOX_ASSIGN_OR_RETURN(std::string output_bytes, std::move(output));
    VEMLOX_ASSIGN_OR_RETURN(std::string error_bytes, std::move(error));
    return FinishedChild{exit_code, std::move(output_bytes), std::move(error_bytes)};
}

// Every program we start is a console program writing in the OEM code page; each stream is read
// on its own, as either may hold text the other does not.
[[nodiscard]] ProgramOutcome decode(FinishedChild finished) {
    const UINT code_page = GetOEMCP();
    return ProgramOutcome{finished.exit_code,
                          console_output_text(std::move(finished.output), code_page),
                          console_output_text(std::move(finished.error), code_page)};
}

} // namespace

std::vector<std::wstring> trusted_program_folders(const std::wstring& own_folder) {
    const std::wstring system = system_folder();
    const std::wstring windows = windows_folder();
    std::vector<std::wstring> folders;
    folders.push_back(own_folder);
    if (!system.empty()) {
        folders.push_back(system);
        // Windows PowerShell lives here, and only PATH would lead to it otherwise.
        folders.push_back(join_path(system, L"WindowsPowerShell\\v1.0"));
    }
    if (!windows.empty()) {
        folders.push_back(windows);
    }
    return folders;
}

std::optional<std::wstring> find_program(std::wstring_view program,
                                         std::span<const std::wstring> folders) {
    if (program.empty() || program == L"." || program == L".." ||
        program.find_first_of(L"\\/:") != std::wstring_view::npos) {
        return std::nullopt;
    }
    for (const std::wstring& folder : folders) {
        if (folder.empty()) {
            continue;
        }
        std::wstring path = join_path(folder, program);
        if (is_existing_file(path)) {
            return path;
        }
    }
    return std::nullopt;
}

ActionResult<ProgramOutcome> WinProgramRunner::run(std::string_view program,
                                                   std::span<const std::string> arguments,
                                                   std::span<const EnvironmentPair> environment) {
    const std::optional<std::wstring> path =
        find_program(to_wide(program), trusted_program_folders(own_folder_));
    if (!path) {
        return std::unexpected(ActionError::os_error("program not found"));
    }
    std::wstring command_line = command_line_of(*path, arguments);
    VEMLOX_ASSIGN_OR_RETURN_MAPPED(os_error, const auto inherited, own_environment());
    std::wstring environment_block = child_environment_block(inherited, environment);

    VEMLOX_ASSIGN_OR_RETURN_MAPPED(os_error, ChildStreams streams, open_child_streams());
    const ChildLaunch launch{*path, command_line, environment_block, streams};
    VEMLOX_ASSIGN_OR_RETURN_MAPPED(os_error, StartedChild child, start_child(launch, streams));
    auto finished = finish_child(child, streams, time_limit_);
    if (!finished && finished.error() == WAIT_TIMEOUT) {
        return std::unexpected(ActionError::os_error(std::string(program) +
                                                     " did not finish within " +
                                                     std::to_string(time_limit_.count()) + " s"));
    }
    VEMLOX_ASSIGN_OR_RETURN_MAPPED(os_error, FinishedChild done, std::move(finished));
    return decode(std::move(done));
}

} // namespace vemlox::win
