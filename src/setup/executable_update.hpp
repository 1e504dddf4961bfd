// The product's executables brought into the install folder all together or not at all: opened
// where the installer found them, staged in full beside their targets, moved in by renames, and
// then kept or moved back as one.
#pragma once

#include "protocol/text_result.hpp"
#include "setup/file_replacement.hpp"
#include "win32_shared/unique_handle.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace vemlox::win {

// One file to install, open for reading while nobody may write, rename or delete it.
struct SourceExecutable {
    std::string_view what;           // "service" or the app's file name, as the messages say it
    std::string_view installed_name; // its name in the install folder
    UniqueHandle file;
};

// The running executable (installed as the service) first, then the app's executables found
// beside it. Fails with the OS error text, or "copy <what>: " and the OS error text.
[[nodiscard]] TextResult<std::vector<SourceExecutable>> open_source_executables();

class ExecutableUpdate {
  public:
    // Writes every source that is not already its installed file beside its target in `folder`,
    // so that a failure here changes nothing that runs. Run from the install folder itself there
    // is nothing to write. Takes the sources so that they stay unchangeable until their last byte
    // is read, and no longer. Fails with "copy <what>: " and the OS error text.
    [[nodiscard]] static TextResult<ExecutableUpdate>
    stage(std::vector<SourceExecutable> sources, const std::wstring& folder, HoldWaits waits = {});

    // Moves every staged file in, the service's first. When one move fails, those already made
    // are moved back and the failure is "copy <what>: " and the OS error text, followed by what
    // `move_back` could not put back, if anything.
    [[nodiscard]] TextResult<void> move_in();

    // Puts the earlier files back, last moved first. Returns, to follow a failure message, for
    // each name whose earlier file could not be put back even after waiting for a hold to end:
    // "; the earlier <name> could not be put back and is kept as <path of its set-aside copy>".
    // Empty when every earlier file is back.
    std::string move_back();

    // Keeps the new files: the earlier ones are deleted (at the next restart if still running).
    void keep();

  private:
    struct Staged {
        std::string_view what;
        std::string_view installed_name;
        StagedFile file;
    };

    explicit ExecutableUpdate(std::vector<Staged> staged) : staged_(std::move(staged)) {}

    std::vector<Staged> staged_;
    std::size_t moved_in_ = 0;
};

} // namespace vemlox::win
