#include "machine/program_runner_win.hpp"

#include "machine/console_output_text.hpp"
#include "machine/environment_block.hpp"
#include "machine/process_tree_job.hpp"
#include "win32_shared/child_command_line.hpp"
#include "win32_shared/deadline.hpp"
#include "win32_shared/os_error_text.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <array>
#include <cstddef>
#include <expected>
#include <memory>
#include <new>
#include <string>
#include <windows.h>

namespace vemlox::win {

namespace {

constexpr DWORD PIPE_BUFFER_BYTES = 64 * 1024;
constexpr DWORD READ_CHUNK_BYTES = 64 * 1024;
// How long the output may still take to end after the child's job has ended.
constexpr DWORD READER_GRACE_MS = 5000;
constexpr DWORD CANCEL_RETRY_MS = 100;

ActionError os_error(DWORD code) {
    return ActionError::os_error(os_error_text(code));
}

// One pipe's read end, read to its end on a thread of its own.
struct PipeDrain {
    explicit PipeDrain(UniqueHandle read_end) : pipe(std::move(read_end)) {}

    UniqueHandle pipe;
    std::string bytes;
    DWORD error = ERROR_SUCCESS;
};

void drain(PipeDrain& drain) {
    std::string chunk(READ_CHUNK_BYTES, '\0');
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(drain.pipe.get(), chunk.data(), READ_CHUNK_BYTES, &read, nullptr)) {
            const DWORD error = GetLastError();
            // The child and every copy of its end are gone: the normal end of the output.
            if (error != ERROR_BROKEN_PIPE) {
                drain.error = error;
            }
            // After any other failure the child may still be writing: with our end closed its
            // writes fail instead of blocking on a full pipe while we wait for it to exit.
            drain.pipe.reset();
            return;
        }
        if (drain.error != ERROR_SUCCESS) {
            continue; // keep reading so the child never blocks on a full pipe
        }
        try {
            drain.bytes.append(chunk.data(), read);
        } catch (const std::bad_alloc&) {
            drain.error = ERROR_NOT_ENOUGH_MEMORY;
            drain.bytes = std::string();
        }
    }
}

// The thread shares the drain with its starter, so neither outlives what the other still uses,
// whichever of them finishes first.
DWORD WINAPI drain_on_thread(void* context) {
    const std::unique_ptr<std::shared_ptr<PipeDrain>> shared(
        static_cast<std::shared_ptr<PipeDrain>*>(context));
    drain(**shared);
    return 0;
}

[[nodiscard]] std::expected<UniqueHandle, DWORD>
start_drain_thread(const std::shared_ptr<PipeDrain>& drain) {
    auto context = std::make_unique<std::shared_ptr<PipeDrain>>(drain);
    UniqueHandle thread(CreateThread(nullptr, 0, drain_on_thread, context.get(), 0, nullptr));
    if (!thread) {
        return std::unexpected(GetLastError());
    }
    static_cast<void>(context.release()); // the thread owns it now
    return thread;
}

// A drain on a thread of its own, or the error that kept the thread from starting.
struct Reader {
    std::shared_ptr<PipeDrain> drain;
    UniqueHandle thread;
    DWORD start_error = ERROR_SUCCESS;
};

[[nodiscard]] Reader start_reader(std::shared_ptr<PipeDrain> drain) {
    Reader reader{std::move(drain), {}, ERROR_SUCCESS};
    if (auto thread = start_drain_thread(reader.drain)) {
        reader.thread = std::move(*thread);
    } else {
        reader.start_error = thread.error();
        // With our end closed, the child's writes fail instead of blocking, and it can run to its
        // end.
        reader.drain->pipe.reset();
    }
    return reader;
}

// Waits for a reader once the child's job has ended, and gives the Windows error of its read. The
// read ends by itself as soon as the system has torn down the job's processes, and with them the
// last write end. Should a process outside the job hold one, the read is cancelled, so that a run
// never hangs here.
[[nodiscard]] DWORD wait_for_reader(const Reader& reader) {
    if (!reader.thread) {
        return reader.start_error;
    }
    DWORD wait_ms = READER_GRACE_MS;
    for (;;) {
        const DWORD waited = WaitForSingleObject(reader.thread.get(), wait_ms);
        if (waited == WAIT_OBJECT_0) {
            return reader.drain->error;
        }
        if (waited != WAIT_TIMEOUT) {
            return GetLastError();
        }
        // Fails harmlessly when the thread is between two reads; the next round catches it.
        static_cast<void>(CancelSynchronousIo(reader.thread.get()));
        wait_ms = CANCEL_RETRY_MS;
    }
}

struct Pipe {
    UniqueHandle read;
    UniqueHandle write; // the child's end, inheritable
};

[[nodiscard]] std::expected<Pipe, DWORD> make_output_pipe() {
    Pipe pipe;
    if (!CreatePipe(pipe.read.put(), pipe.write.put(), nullptr, PIPE_BUFFER_BYTES)) {
        return std::unexpected(GetLastError());
    }
    if (!SetHandleInformation(pipe.write.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
        return std::unexpected(GetLastError());
    }
    return pipe;
}

// The attribute list that limits what the child inherits to the handles named in it.
class InheritedHandles {
  public:
    InheritedHandles() = default;
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;
    ~InheritedHandles() {
        if (initialized_) {
            DeleteProcThreadAttributeList(list());
        }
    }

    [[nodiscard]] DWORD set(std::span<HANDLE> handles) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        if (!InitializeProcThreadAttributeList(list(), 1, 0, &size)) {
            return GetLastError();
        }
        initialized_ = true;
        // The list holds a pointer to `handles`, which must stay alive until CreateProcessW.
        if (!UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                       handles.size_bytes(), nullptr, nullptr)) {
            return GetLastError();
        }
        return ERROR_SUCCESS;
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

// The child's standard handles: the null device for input, a pipe for each output stream.
struct ChildStreams {
    UniqueHandle input;
    Pipe output;
    Pipe error;
};

[[nodiscard]] std::expected<ChildStreams, DWORD> open_child_streams() {
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    ChildStreams streams;
    streams.input.reset(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!streams.input) {
        return std::unexpected(GetLastError());
    }
    auto output = make_output_pipe();
    if (!output) {
        return std::unexpected(output.error());
    }
    auto error = make_output_pipe();
    if (!error) {
        return std::unexpected(error.error());
    }
    streams.output = std::move(*output);
    streams.error = std::move(*error);
    return streams;
}

// A running child, in a job with everything it starts.
struct StartedChild {
    ProcessTreeJob job;
    UniqueHandle process;
};

// Starts the program with the child's ends of `streams` as its standard handles, and closes our
// copies of them once it has its own.
[[nodiscard]] std::expected<StartedChild, DWORD> start_child(const std::wstring& path,
                                                             std::wstring& command_line,
                                                             std::wstring& environment_block,
                                                             ChildStreams& streams) {
    // Only the child's three ends may reach it. An inherited copy of any other handle, such as a
    // pipe end of a program started at the same time, would keep that pipe open for as long as
    // this child lives.
    std::array<HANDLE, 3> child_handles{streams.input.get(), streams.output.write.get(),
                                        streams.error.write.get()};
    InheritedHandles inherited_handles;
    if (const DWORD failed = inherited_handles.set(child_handles); failed != ERROR_SUCCESS) {
        return std::unexpected(failed);
    }

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = streams.input.get();
    startup.StartupInfo.hStdOutput = streams.output.write.get();
    startup.StartupInfo.hStdError = streams.error.write.get();
    startup.lpAttributeList = inherited_handles.list();

    auto job = ProcessTreeJob::create();
    if (!job) {
        return std::unexpected(job.error());
    }

    PROCESS_INFORMATION started{};
    // The full path goes in as the application name too, so CreateProcessW never searches.
    // Suspended, so that the child is in the job before it can start anything.
    if (!CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT |
                            EXTENDED_STARTUPINFO_PRESENT,
                        environment_block.data(), nullptr, &startup.StartupInfo, &started)) {
        return std::unexpected(GetLastError());
    }
    UniqueHandle process(started.hProcess);
    const UniqueHandle main_thread(started.hThread);
    // Without the job, what the child leaves running could hold its pipes, and the service with
    // them, for ever: such a child never runs.
    if (const DWORD failed = job->assign(process.get()); failed != ERROR_SUCCESS) {
        static_cast<void>(TerminateProcess(process.get(), ERROR_PROCESS_ABORTED));
        return std::unexpected(failed);
    }
    if (ResumeThread(main_thread.get()) == static_cast<DWORD>(-1)) {
        return std::unexpected(GetLastError()); // the job ends the child as it closes
    }

    // Our copies of the child's ends must go now: the reads end only when no writer is left.
    streams.input.reset();
    streams.output.write.reset();
    streams.error.write.reset();
    return StartedChild{std::move(*job), std::move(process)};
}

// How the wait for the child ended, and both streams as read, or the error of the first read that
// failed.
struct CollectedOutput {
    DWORD wait_result = WAIT_FAILED;
    DWORD wait_error = ERROR_SUCCESS;
    std::string output;
    std::string error;
    DWORD read_error = ERROR_SUCCESS;
};

// Reads both streams while the child runs and waits for it for at most `time_limit`. Then, whether
// it has ended or ran out of time, whatever it started goes: a process it left running may hold a
// copy of a pipe's write end, and the reads would never end.
[[nodiscard]] CollectedOutput collect_output(StartedChild& child, ChildStreams& streams,
                                             std::chrono::seconds time_limit) {
    // Both streams are read at once, so a child that fills one pipe while we wait on the other
    // can never block.
    const auto output_drain = std::make_shared<PipeDrain>(std::move(streams.output.read));
    const auto error_drain = std::make_shared<PipeDrain>(std::move(streams.error.read));
    const Reader output_reader = start_reader(output_drain);
    const Reader error_reader = start_reader(error_drain);

    CollectedOutput collected;
    const Deadline deadline(time_limit);
    collected.wait_result = WaitForSingleObject(child.process.get(), deadline.remaining_ms());
    collected.wait_error = GetLastError();
    child.job.end();
    const DWORD output_read_error = wait_for_reader(output_reader);
    const DWORD error_read_error = wait_for_reader(error_reader);

    collected.read_error =
        output_read_error != ERROR_SUCCESS ? output_read_error : error_read_error;
    if (collected.read_error == ERROR_SUCCESS) {
        collected.output = std::move(output_drain->bytes);
        collected.error = std::move(error_drain->bytes);
    }
    return collected;
}

// Every program we start is a console program writing in the OEM code page; each stream is read
// on its own, as either may hold text the other does not.
[[nodiscard]] ProgramOutcome decode(DWORD exit_code, CollectedOutput collected) {
    const UINT code_page = GetOEMCP();
    return ProgramOutcome{exit_code, console_output_text(std::move(collected.output), code_page),
                       console_output_text(std::move(collected.error), code_page)};
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

    auto inherited = own_environment();
    if (!inherited) {
        return std::unexpected(os_error(inherited.error()));
    }
    std::wstring environment_block = child_environment_block(*inherited, environment);

    auto streams = open_child_streams();
    if (!streams) {
        return std::unexpected(os_error(streams.error()));
    }
    auto child = start_child(*path, command_line, environment_block, *streams);
    if (!child) {
        return std::unexpected(os_error(child.error()));
    }
    CollectedOutput collected = collect_output(*child, *streams, time_limit_);

    if (collected.wait_result == WAIT_TIMEOUT) {
        return std::unexpected(ActionError::os_error(std::string(program) +
                                                     " did not finish within " +
                                                     std::to_string(time_limit_.count()) + " s"));
    }
    if (collected.wait_result != WAIT_OBJECT_0) {
        return std::unexpected(os_error(collected.wait_error));
    }
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(child->process.get(), &exit_code)) {
        return std::unexpected(os_error(GetLastError()));
    }
    if (collected.read_error != ERROR_SUCCESS) {
        return std::unexpected(os_error(collected.read_error));
    }
    return decode(exit_code, std::move(collected));
}

} // namespace vemlox::win
