// Installing a file over an earlier copy without ever leaving a half-written file under its name:
// the new copy is written in full beside its target first, and then moved in by renames only.
#pragma once

#include <expected>
#include <string>
#include <windows.h>

namespace vemlox::win {

// True when `path` names the very file `file` is open on (the same volume and file index),
// however either was spelt: letter case, short names and "\\?\" prefixes make no difference.
[[nodiscard]] bool is_same_file(HANDLE file, const std::wstring& path);

// A complete copy waiting beside its target under the target's name followed by ".partial";
// deleted unless it is moved in.
class StagedFile {
  public:
    // Writes what is left to read from `source` to the partial file and flushes it to disk.
    [[nodiscard]] static std::expected<StagedFile, DWORD> write(HANDLE source,
                                                                const std::wstring& target);

    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&&) = delete;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile();

    // Puts the copy in place of the target: a target that exists is renamed aside, the copy is
    // renamed to the target's name, and the set-aside file is deleted, or at the next restart
    // when it is still in use. On failure the earlier target stays complete under its name.
    [[nodiscard]] std::expected<void, DWORD> move_in();

  private:
    StagedFile(std::wstring target, std::wstring partial);

    std::wstring target_;
    // Empty once moved in or moved from.
    std::wstring partial_;
};

// Deletes what earlier installs set aside in `folder` and could not delete then (an executable
// that was still running).
void delete_set_aside_files(const std::wstring& folder);

} // namespace vemlox::win
