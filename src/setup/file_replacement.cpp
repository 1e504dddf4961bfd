#include "setup/file_replacement.hpp"

#include "win32_shared/clock.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <cwchar>
#include <optional>
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
[[nodiscard]] Win32Result<void> write_file_from(HANDLE source, const std::wstring& path) {
    const UniqueHandle target(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) {
        return last_error();
    }
    std::vector<char> buffer(COPY_CHUNK_BYTES);
    for (;;) {
        DWORD read = 0;
        if (ReadFile(source, buffer.data(), COPY_CHUNK_BYTES, &read, nullptr) == 0) {
            return last_error();
        }
        if (read == 0) {
            break;
        }
        DWORD written = 0;
        if (WriteFile(target.get(), buffer.data(), read, &written, nullptr) == 0) {
            return last_error();
        }
        if (written != read) {
            return std::unexpected(static_cast<std::uint32_t>(ERROR_WRITE_FAULT));
        }
    }
    if (FlushFileBuffers(target.get()) == 0) {
        return last_error();
    }
    return {};
}

// Write-through: documented to flush a move done as a copy and delete before it returns; for a
// rename within one volume it promises no more than a plain rename does.
[[nodiscard]] Win32Result<void> rename_file(const std::wstring& from, const std::wstring& to) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) == 0) {
        return last_error();
    }
    return {};
}

std::wstring set_aside_name(const std::wstring& target) {
    return target + std::wstring(SET_ASIDE_MARK) + std::to_wstring(now_filetime());
}

// A running executable cannot be deleted, but it can be renamed, and Windows deletes it at the
// next restart once asked to (which needs administrator rights, as the install has). Until then
// the next install tries again.
void delete_now_or_at_restart(const std::wstring& path) {
    if (DeleteFileW(path.c_str()) == 0) {
        static_cast<void>(MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    }
}

// Calls `visit` with the name of every file in `folder` that matches `pattern`.
template <typename Visit>
void for_each_file(const std::wstring& folder, const std::wstring& pattern, Visit visit) {
    WIN32_FIND_DATAW found{};
    const UniqueAny<FindTraits> search(FindFirstFileExW(join_path(folder, pattern).c_str(),
                                                        FindExInfoBasic, &found,
                                                        FindExSearchNameMatch, nullptr, 0));
    if (!search) {
        return;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            visit(std::wstring(found.cFileName));
        }
    } while (FindNextFileW(search.get(), &found) != 0);
}

// The time stamp of a set-aside file's name; none when the rest of the name is not a number.
std::optional<std::uint64_t> set_aside_stamp(const std::wstring& file_name,
                                             std::size_t prefix_length) {
    const std::wstring digits = file_name.substr(prefix_length);
    if (digits.empty() || digits.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return std::nullopt;
    }
    return std::wcstoull(digits.c_str(), nullptr, 10);
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
    : target_(std::move(other.target_)), partial_(std::exchange(other.partial_, {})),
      set_aside_(std::exchange(other.set_aside_, {})) {}

StagedFile::~StagedFile() {
    if (!partial_.empty()) {
        static_cast<void>(DeleteFileW(partial_.c_str()));
    }
}

// The partial file is made in the target's folder, so it gets that folder's permissions and the
// renames stay within one volume.
Win32Result<StagedFile> StagedFile::write(HANDLE source, const std::wstring& target) {
    StagedFile staged(target, target + std::wstring(PARTIAL_SUFFIX));
    VEMLOX_RETURN_IF_ERROR(write_file_from(source, staged.partial_));
    return staged;
}

// Renames only, so that at every moment but the one between the two renames the target's name
// holds either the earlier file or the new one, each complete. Setting the target aside every
// time, not only when it is in use, keeps the one way that works for a running executable (which
// Windows lets be renamed, never replaced) the way that is always taken.
Win32Result<void> StagedFile::move_in() {
    std::wstring set_aside = set_aside_name(target_);
    if (auto moved = rename_file(target_, set_aside); !moved) {
        if (moved.error() != ERROR_FILE_NOT_FOUND) {
            return moved;
        }
        set_aside.clear();
    }
    if (auto moved = rename_file(partial_, target_); !moved) {
        if (!set_aside.empty()) {
            static_cast<void>(rename_file(set_aside, target_));
        }
        return moved;
    }
    partial_.clear();
    set_aside_ = std::move(set_aside);
    return {};
}

Win32Result<void> StagedFile::move_back() {
    const std::wstring discarded = set_aside_name(target_);
    VEMLOX_RETURN_IF_ERROR(rename_file(target_, discarded));
    if (!set_aside_.empty()) {
        if (auto restored = rename_file(set_aside_, target_); !restored) {
            static_cast<void>(rename_file(discarded, target_));
            return restored;
        }
        set_aside_.clear();
    }
    delete_now_or_at_restart(discarded);
    return {};
}

void StagedFile::drop_earlier() {
    if (!set_aside_.empty()) {
        delete_now_or_at_restart(std::exchange(set_aside_, {}));
    }
}

void restore_interrupted_replacements(const std::wstring& folder,
                                      std::span<const std::string_view> names) {
    for (const std::string_view name : names) {
        const std::wstring file_name = to_wide(name);
        const std::wstring target = join_path(folder, file_name);
        if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES ||
            GetLastError() != ERROR_FILE_NOT_FOUND) {
            continue;
        }
        const std::wstring prefix = file_name + std::wstring(SET_ASIDE_MARK);
        std::wstring newest;
        std::uint64_t newest_stamp = 0;
        for_each_file(folder, prefix + L"*", [&](const std::wstring& found) {
            const auto stamp = set_aside_stamp(found, prefix.size());
            if (stamp && (newest.empty() || *stamp > newest_stamp)) {
                newest = found;
                newest_stamp = *stamp;
            }
        });
        if (!newest.empty()) {
            static_cast<void>(rename_file(join_path(folder, newest), target));
        }
    }
}

void delete_leftover_files(const std::wstring& folder) {
    const auto delete_found = [&](const std::wstring& found) {
        static_cast<void>(DeleteFileW(join_path(folder, found).c_str()));
    };
    for_each_file(folder, L"*" + std::wstring(SET_ASIDE_MARK) + L"*", delete_found);
    for_each_file(folder, L"*" + std::wstring(PARTIAL_SUFFIX), delete_found);
}

} // namespace vemlox::win
