#include "setup/file_replacement.hpp"

#include "win32_shared/clock.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <chrono>
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

// Copies what is left to read from `source` into `target` and flushes it to disk.
[[nodiscard]] Win32Result<void> copy_and_flush(HANDLE source, HANDLE target) {
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
        if (WriteFile(target, buffer.data(), read, &written, nullptr) == 0) {
            return last_error();
        }
        if (written != read) {
            return std::unexpected(static_cast<std::uint32_t>(ERROR_WRITE_FAULT));
        }
    }
    if (FlushFileBuffers(target) == 0) {
        return last_error();
    }
    return {};
}

// Write-through: the call does not return until the file has actually been moved on the disk.
// Windows guarantees a flush only for a move it performs as a copy and a delete, which a rename
// within one folder never is. A hold of either file by another program is waited out.
[[nodiscard]] Win32Result<void> rename_file(const std::wstring& from, const std::wstring& to,
                                            std::chrono::milliseconds wait) {
    return retry_while_held(
        FileChange::Rename,
        [&]() -> Win32Result<void> {
            if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) == 0) {
                return last_error();
            }
            return {};
        },
        wait);
}

[[nodiscard]] Win32Result<void> delete_file(const std::wstring& path,
                                            std::chrono::milliseconds wait) {
    return retry_while_held(
        FileChange::Delete,
        [&]() -> Win32Result<void> {
            if (DeleteFileW(path.c_str()) == 0) {
                return last_error();
            }
            return {};
        },
        wait);
}

std::wstring set_aside_name(const std::wstring& target) {
    return target + std::wstring(SET_ASIDE_MARK) + std::to_wstring(now_filetime());
}

// A running executable cannot be deleted, but it can be renamed, and Windows deletes it at the
// next restart once asked to (which needs administrator rights, as the install has). Until then
// the next install tries again.
void delete_now_or_at_restart(const std::wstring& path, std::chrono::milliseconds wait) {
    if (!delete_file(path, wait)) {
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

StagedFile::StagedFile(std::wstring target, std::wstring partial, HoldWaits waits)
    : target_(std::move(target)), partial_(std::move(partial)), waits_(waits) {}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : target_(std::move(other.target_)), partial_(std::exchange(other.partial_, {})),
      set_aside_(std::exchange(other.set_aside_, {})), waits_(other.waits_) {}

StagedFile::~StagedFile() {
    if (!partial_.empty()) {
        static_cast<void>(delete_file(partial_, waits_.change));
    }
}

// The partial file is made in the target's folder, so it gets that folder's permissions and the
// renames stay within one volume. One that could not be created is not ours to delete (a folder
// in its place, say); one that was is closed before a failed copy deletes it.
Win32Result<StagedFile> StagedFile::write(HANDLE source, const std::wstring& target,
                                          HoldWaits waits) {
    std::wstring partial = target + std::wstring(PARTIAL_SUFFIX);
    UniqueHandle file(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return last_error();
    }
    const Win32Result<void> written = copy_and_flush(source, file.get());
    file.reset();
    StagedFile staged(target, std::move(partial), waits);
    VEMLOX_RETURN_IF_ERROR(written);
    return staged;
}

// Renames only, so that at every moment but the one between the two renames the target's name
// holds either the earlier file or the new one, each complete. Setting the target aside every
// time, not only when it is in use, keeps the one way that works for a running executable (which
// Windows lets be renamed, never replaced) the way that is always taken.
Win32Result<void> StagedFile::move_in() {
    std::wstring set_aside = set_aside_name(target_);
    if (auto moved = rename_file(target_, set_aside, waits_.change); !moved) {
        if (moved.error() != ERROR_FILE_NOT_FOUND) {
            return moved;
        }
        set_aside.clear();
    }
    if (auto moved = rename_file(partial_, target_, waits_.change); !moved) {
        if (!set_aside.empty() && !rename_file(set_aside, target_, waits_.restore)) {
            set_aside_ = std::move(set_aside);
        }
        return moved;
    }
    partial_.clear();
    set_aside_ = std::move(set_aside);
    return {};
}

Win32Result<void> StagedFile::move_back() {
    const std::wstring discarded = set_aside_name(target_);
    VEMLOX_RETURN_IF_ERROR(rename_file(target_, discarded, waits_.restore));
    if (!set_aside_.empty()) {
        if (auto restored = rename_file(set_aside_, target_, waits_.restore); !restored) {
            static_cast<void>(rename_file(discarded, target_, waits_.restore));
            return restored;
        }
        set_aside_.clear();
    }
    delete_now_or_at_restart(discarded, waits_.change);
    return {};
}

void StagedFile::drop_earlier() {
    if (!set_aside_.empty()) {
        delete_now_or_at_restart(std::exchange(set_aside_, {}), waits_.change);
    }
}

void restore_interrupted_replacements(const std::wstring& folder,
                                      std::span<const std::string_view> names, HoldWaits waits) {
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
            static_cast<void>(rename_file(join_path(folder, newest), target, waits.restore));
        }
    }
}

void delete_leftover_files(const std::wstring& folder, HoldWaits waits) {
    const auto delete_found = [&](const std::wstring& found) {
        static_cast<void>(delete_file(join_path(folder, found), waits.change));
    };
    for_each_file(folder, L"*" + std::wstring(SET_ASIDE_MARK) + L"*", delete_found);
    for_each_file(folder, L"*" + std::wstring(PARTIAL_SUFFIX), delete_found);
}

} // namespace vemlox::win
