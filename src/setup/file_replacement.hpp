// Installing a file over an earlier copy without ever leaving a half-written file under its name:
// the new copy is written in full beside its target first, then moved in by renames only, with
// the earlier file set aside until the caller keeps the new one or moves the earlier one back.
#pragma once

#include "setup/held_file_retry.hpp"
#include "win32_shared/win32_result.hpp"

#include <span>
#include <string>
#include <string_view>
#include <windows.h>

namespace vemlox::win {

// True when `path` names the very file `file` is open on (the same volume and file index),
// however either was spelt: letter case, short names and "\\?\" prefixes make no difference.
[[nodiscard]] bool is_same_file(HANDLE file, const std::wstring& path);

// A complete copy waiting beside its target under the target's name followed by ".partial"
// (deleted unless it is moved in), then moved in with the earlier target set aside under the
// target's name followed by ".replaced-" and a time stamp. Every rename and deletion waits out a
// brief hold of the file by another program (see `HoldWaits`).
class StagedFile {
  public:
    // Writes what is left to read from `source` to the partial file and flushes it to disk.
    [[nodiscard]] static Win32Result<StagedFile> write(HANDLE source, const std::wstring& target,
                                                       HoldWaits waits = {});

    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&&) = delete;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile();

    // Puts the copy in place of the target: a target that exists is renamed aside and the copy is
    // renamed to the target's name. On failure the earlier target is put back under its name,
    // unless even that is refused: then the name is empty and `set_aside` says where it is.
    [[nodiscard]] Win32Result<void> move_in();

    // After `move_in`: the new file is renamed aside and the earlier one back to the target's
    // name (or, where there was none, the new file is only taken away). Fails when a rename is
    // refused; the earlier file is then still where `set_aside` says, complete, and the name
    // holds the new file or, when even putting that back was refused, nothing.
    [[nodiscard]] Win32Result<void> move_back();

    // After `move_in`: deletes the earlier file, or has Windows delete it at the next restart
    // while a process still runs from it.
    void drop_earlier();

    // Where the earlier target is while it is not under its name: set aside by `move_in`, and
    // not put back by a failed `move_in` or `move_back`. Empty when there was none or it is back.
    [[nodiscard]] const std::wstring& set_aside() const { return set_aside_; }

  private:
    StagedFile(std::wstring target, std::wstring partial, HoldWaits waits);

    std::wstring target_;
    // Empty once moved in or moved from.
    std::wstring partial_;
    // Where the earlier target is; empty when there was none or it is back or gone.
    std::wstring set_aside_;
    HoldWaits waits_;
};

// Undoes what an install killed between the two renames of `move_in` (or of `move_back`) left:
// each of `names` in `folder` that is missing while a set-aside copy of it exists gets the newest
// such copy back. That copy is complete, as every file ever under the name was.
void restore_interrupted_replacements(const std::wstring& folder,
                                      std::span<const std::string_view> names,
                                      HoldWaits waits = {});

// Deletes what earlier installs set aside in `folder` and could not delete then (an executable
// that was still running), and the partial copies of installs that were killed.
void delete_leftover_files(const std::wstring& folder, HoldWaits waits = {});

} // namespace vemlox::win
