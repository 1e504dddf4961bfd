#include "setup/file_replacement.hpp"

#include "win32_shared/clock.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/unique_handle.hpp"

#include <utility>
#include <vector>

namespace vemlox::win {

namespace {

constexpr DWORD COPY_CHUNK_BYTES = 64 * 1024;
constexpr std::wstring_view PARTIAL_SUFFIX = L".partial";
// A replaced file is renamed to its name, this and a time stamp; no short (8.3) name can match
// the pattern, so only such long names are found.
constexpr std::wstring_view SET_ASIDE_MARK = L".replaced-";
constexpr DWORD ANY_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct FindTraits {
    using pointer = HANDLE;
    static pointer invalid() { return INVALID_HANDLE_VALUE; }
    static void close(pointer value) { FindClose(value); }
};

// Writes what is left to read from `source` into a new file at `path`, flushed to disk.
[[nodiscard]] std::expected<void, DWORD> write_file_from(HANDLE source, const std::wstring& path) {
    const UniqueHandle target(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) {
        return std::unexpected(GetLastError());
    }
    std::vector<char> buffer(COPY_CHUNK_BYTES);
    for (;;) {
        DWORD read = 0;
        if (ReadFile(source, buffer.data(), COPY_CHUNK_BYTES, &read, nullptr) == 0) {
            return std::unexpected(GetLastError());
        }
        if (read == 0) {
            break;
        }
        DWORD written = 0;
        if (WriteFile(target.get(), buffer.data(), read, &written, nullptr) == 0) {
            return std::unexpected(GetLastError());
        }
        if (written != read) {
            return std::unexpected(static_cast<DWORD>(ERROR_WRITE_FAULT));
        }
    }
    if (FlushFileBuffers(target.get()) == 0) {
        return std::unexpected(GetLastError());
    }
    return {};
}

// A running executable cannot be deleted, but it can be renamed, and Windows deletes it at the
// next restart once asked to (which needs administrator rights, as the install has). Until then
// the next install tries again.
void delete_set_aside(const std::wstring& path) {
    if (DeleteFileW(path.c_str()) == 0) {
        static_cast<void>(MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    }
}

} // namespace

bool is_same_file(HANDLE file, const std::wstring& path) {
    // Attributes only: this open neither needs nor disturbs anyone's sharing.
    const UniqueHandle other(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, ANY_SHARING, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!other) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION first{};
    BY_HANDLE_FILE_INFORMATION second{};
    return GetFileInformationByHandle(file, &first) != 0 &&
           GetFileInformationByHandle(other.get(), &second) != 0 &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

StagedFile::StagedFile(std::wstring target, std::wstring partial)
    : target_(std::move(target)), partial_(std::move(partial)) {}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : target_(std::move(other.target_)), partial_(std::exchange(other.partial_, {})) {}

StagedFile::~StagedFile() {
    if (!partial_.empty()) {
        static_cast<void>(DeleteFileW(partial_.c_str()));
    }
}

// The partial file is made in the target's folder, so it gets that folder's permissions and the
// renames stay within one volume.
std::expected<StagedFile, DWORD> StagedFile::write(HANDLE source, const std::wstring& target) {
    StagedFile staged(target, target + std::wstring(PARTIAL_SUFFIX));
    if (auto written = write_file_from(source, staged.partial_); !written) {
        return std::unexpected(written.error());
    }
    return staged;
}

// Renames only, so that at every moment the target's name holds either the earlier file or the
// new one, each complete. Setting the target aside every time, not only when it is in use, keeps
// the one way that works for a running executable the way that is always taken.
std::expected<void, DWORD> StagedFile::move_in() {
    std::wstring set_aside =
        target_ + std::wstring(SET_ASIDE_MARK) + std::to_wstring(now_filetime());
    if (MoveFileExW(target_.c_str(), set_aside.c_str(), MOVEFILE_WRITE_THROUGH) == 0) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            return std::unexpected(GetLastError());
        }
        set_aside.clear();
    }
    if (MoveFileExW(partial_.c_str(), target_.c_str(), MOVEFILE_WRITE_THROUGH) == 0) {
        const DWORD error = GetLastError();
        if (!set_aside.empty()) {
            static_cast<void>(
                MoveFileExW(set_aside.c_str(), target_.c_str(), MOVEFILE_WRITE_THROUGH));
        }
        return std::unexpected(error);
    }
    partial_.clear();
    if (!set_aside.empty()) {
        delete_set_aside(set_aside);
    }
    return {};
}

void delete_set_aside_files(const std::wstring& folder) {
    const std::wstring pattern = join_path(folder, L"*" + std::wstring(SET_ASIDE_MARK) + L"*");
    WIN32_FIND_DATAW found{};
    const UniqueAny<FindTraits> search(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                                        FindExSearchNameMatch, nullptr, 0));
    if (!search) {
        return;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            static_cast<void>(DeleteFileW(join_path(folder, found.cFileName).c_str()));
        }
    } while (FindNextFileW(search.get(), &found) != 0);
}

} // namespace vemlox::win
