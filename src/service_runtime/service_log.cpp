#include "service_runtime/service_log.hpp"

#include "actions/filetime.hpp"
#include "win32_shared/clock.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/whole_write.hpp"
#include "win32_shared/wide.hpp"

#include <memory>

// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

namespace vemlox::win {

namespace {

// Without FILE_WRITE_DATA, every write lands at the end of the file, whoever else has it open.
constexpr DWORD APPEND_ONLY_ACCESS = FILE_GENERIC_WRITE & ~FILE_WRITE_DATA;
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The size of the file a link points to, through an open handle.
bool linked_file_size(const std::wstring& path, std::uint64_t& size) {
    const UniqueHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    LARGE_INTEGER value{};
    if (GetFileSizeEx(file.get(), &value) == 0 || value.QuadPart < 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

// One attribute query per line; only a linked log, whose own attributes describe the link, is
// measured through an open handle, so that rotation follows the file where it really is.
bool file_size(const std::wstring& path, std::uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) == 0) {
        return false;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return linked_file_size(path, size);
    }
    size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

// LOG_FILE_SDDL as a security descriptor, or nothing when it cannot be built.
UniqueLocalMemory log_file_descriptor() {
    UniqueLocalMemory descriptor;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(LOG_FILE_SDDL, SDDL_REVISION_1,
                                                             descriptor.put(), nullptr) == 0) {
        return {};
    }
    return descriptor;
}

// The log file opened for appending, created with LOG_FILE_SDDL when it is missing. The
// descriptor is built only then: a file renamed to the older generation keeps its own, and an
// existing file takes no notice of one. Without it a new file would take the folder's inherited
// entries, so no file (and no line) is better.
UniqueHandle open_log_file(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), APPEND_ONLY_ACCESS, SHARE_ALL, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (file || GetLastError() != ERROR_FILE_NOT_FOUND) {
        return file;
    }
    const UniqueLocalMemory descriptor = log_file_descriptor();
    if (!descriptor) {
        return {};
    }
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    return UniqueHandle(CreateFileW(path.c_str(), APPEND_ONLY_ACCESS, SHARE_ALL, &attributes,
                                    OPEN_ALWAYS, 0, nullptr));
}

std::string log_line(std::string_view message) {
    std::string line = std::to_string(seconds_since_1970(now_filetime()));
    line.reserve(line.size() + message.size() + 2);
    line.push_back(' ');
    for (const char c : message) {
        line.push_back(c == '\r' || c == '\n' ? ' ' : c);
    }
    line.push_back('\n');
    return line;
}

} // namespace

void append_log(const std::wstring& log_folder, std::string_view message) {
    const std::wstring path = join_path(log_folder, to_wide(LOG_FILE_NAME));
    std::uint64_t size = 0;
    if (file_size(path, size) && size > LOG_ROTATION_BYTES) {
        const std::wstring older = join_path(log_folder, to_wide(OLDER_LOG_FILE_NAME));
        static_cast<void>(MoveFileExW(path.c_str(), older.c_str(), MOVEFILE_REPLACE_EXISTING));
    }
    const std::string line = log_line(message);
    const UniqueHandle file = open_log_file(path);
    if (!file) {
        return;
    }
    // One write per line keeps lines whole even when something else appends to the same file.
    // A message beyond 2 GiB is written in pieces; it still ends with its own line feed.
    write_whole_file(file.get(), line);
}

void protect_log_files(const std::wstring& log_folder) {
    const UniqueLocalMemory descriptor = log_file_descriptor();
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!descriptor ||
        GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) == 0 || !present) {
        return;
    }
    for (const std::string_view name : {LOG_FILE_NAME, OLDER_LOG_FILE_NAME}) {
        std::wstring path = join_path(log_folder, to_wide(name));
        // PROTECTED drops the entries the file inherited from the install folder, which grants
        // every user read access; a missing file is simply left alone.
        static_cast<void>(
            SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr));
    }
}

namespace {

DWORD WINAPI protect_on_thread(void* context) {
    const std::unique_ptr<std::wstring> log_folder(static_cast<std::wstring*>(context));
    protect_log_files(*log_folder);
    return 0;
}

} // namespace

void protect_log_files_in_background(const std::wstring& log_folder) {
    // The thread owns its copy of the folder, so it may outlive its caller.
    auto context = std::make_unique<std::wstring>(log_folder);
    const UniqueHandle thread(
        CreateThread(nullptr, 0, protect_on_thread, context.get(), 0, nullptr));
    if (thread) {
        static_cast<void>(context.release());
    }
}

} // namespace vemlox::win
