#include "machine/program_runner_win.hpp"

#include "machine/console_output_text.hpp"
#include "machine/environment_block.hpp"
#include "win32_shared/command_line.hpp"
#include "win32_shared/os_error_text.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <array>
#include <cstddef>
#include <expected>
#include <memory>
#include <new>
#include <windows.h>

namespace vemlox::win {

namespace {

constexpr DWORD PIPE_BUFFER_BYTES = 64 * 1024;
constexpr DWORD READ_CHUNK_BYTES = 64 * 1024;

ActionError os_error(DWORD code) {
    return ActionError::os_error(os_error_text(code));
}

// GetSystemDirectoryW and GetWindowsDirectoryW share this shape; an empty result means failure.
std::wstring system_folder(UINT(WINAPI* query)(LPWSTR, UINT)) {
    std::wstring folder(MAX_PATH, L'\0');
    UINT length = query(folder.data(), static_cast<UINT>(folder.size()));
    if (length >= folder.size()) {
        folder.resize(length);
        length = query(folder.data(), static_cast<UINT>(folder.size()));
    }
    if (length == 0 || length >= folder.size()) {
        return {};
    }
    folder.resize(length);
    return folder;
}

// One pipe's read end, read to its end on a thread of its own or on the caller's.
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

} // namespace

std::vector<std::wstring> trusted_program_folders(const std::wstring& own_folder) {
    const std::wstring system = system_folder(GetSystemDirectoryW);
    const std::wstring windows = system_folder(GetWindowsDirectoryW);
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
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return path;
        }
    }
    return std::nullopt;
}

ActionResult<ProgramExit> WinProgramRunner::run(std::string_view program,
                                                std::span<const std::string> arguments,
                                                std::span<const EnvironmentPair> environment) {
    const std::vector<std::wstring> folders = trusted_program_folders(own_folder_);
    const std::optional<std::wstring> path = find_program(to_wide(program), folders);
    if (!path) {
        return std::unexpected(ActionError::os_error("program not found"));
    }

    std::vector<std::wstring> wide_arguments;
    wide_arguments.reserve(arguments.size());
    for (const std::string& argument : arguments) {
        wide_arguments.push_back(to_wide(argument));
    }
    std::wstring command_line = build_command_line(*path, wide_arguments);

    auto inherited = own_environment();
    if (!inherited) {
        return std::unexpected(os_error(inherited.error()));
    }
    std::wstring environment_block = child_environment_block(*inherited, environment);

    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    UniqueFile null_input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!null_input) {
        return std::unexpected(os_error(GetLastError()));
    }
    auto output = make_output_pipe();
    if (!output) {
        return std::unexpected(os_error(output.error()));
    }
    auto error = make_output_pipe();
    if (!error) {
        return std::unexpected(os_error(error.error()));
    }

    // Only the child's three ends may reach it. An inherited copy of any other handle, such as a
    // pipe end of a program started at the same time, would keep that pipe open for as long as
    // this child lives.
    std::array<HANDLE, 3> child_handles{null_input.get(), output->write.get(), error->write.get()};
    InheritedHandles inherited_handles;
    if (const DWORD failed = inherited_handles.set(child_handles); failed != ERROR_SUCCESS) {
        return std::unexpected(os_error(failed));
    }

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = null_input.get();
    startup.StartupInfo.hStdOutput = output->write.get();
    startup.StartupInfo.hStdError = error->write.get();
    startup.lpAttributeList = inherited_handles.list();

    PROCESS_INFORMATION started{};
    // The full path goes in as the application name too, so CreateProcessW never searches.
    if (!CreateProcessW(path->c_str(), command_line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT |
                            EXTENDED_STARTUPINFO_PRESENT,
                        environment_block.data(), nullptr, &startup.StartupInfo, &started)) {
        return std::unexpected(os_error(GetLastError()));
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle main_thread(started.hThread);

    // Our copies of the child's ends must go now: the reads below end only when no writer is left.
    null_input.reset();
    output->write.reset();
    error->write.reset();

    // Both streams are read at once, so a child that fills one pipe while we wait on the other
    // can never block.
    auto error_drain = std::make_shared<PipeDrain>(std::move(error->read));
    PipeDrain output_drain(std::move(output->read));
    DWORD read_error = ERROR_SUCCESS;
    if (auto reader = start_drain_thread(error_drain)) {
        drain(output_drain);
        if (WaitForSingleObject(reader->get(), INFINITE) != WAIT_OBJECT_0) {
            read_error = GetLastError();
        }
    } else {
        // Without a second reader, close our ends: the child's writes then fail instead of
        // blocking, and it can run to its end.
        read_error = reader.error();
        output_drain.pipe.reset();
        error_drain->pipe.reset();
    }

    if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) {
        return std::unexpected(os_error(GetLastError()));
    }
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process.get(), &exit_code)) {
        return std::unexpected(os_error(GetLastError()));
    }
    if (read_error != ERROR_SUCCESS) {
        return std::unexpected(os_error(read_error));
    }
    for (const DWORD failed : {output_drain.error, error_drain->error}) {
        if (failed != ERROR_SUCCESS) {
            return std::unexpected(os_error(failed));
        }
    }
    // Every program we start is a console program writing in the OEM code page; each stream is
    // read on its own, as either may hold text the other does not.
    const UINT code_page = GetOEMCP();
    return ProgramExit{exit_code, console_output_text(std::move(output_drain.bytes), code_page),
                       console_output_text(std::move(error_drain->bytes), code_page)};
}

} // namespace vemlox::win
