#include "setup/executable_update.hpp"

#include "win32_shared/os_error_text.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/wide.hpp"

#include <array>
#include <utility>

namespace vemlox::win {

namespace {

// How the install messages word a failed copy; `what` is "service" or the app's file name.
auto copy_failure(std::string_view what) {
    return [what](std::uint32_t error) {
        return "copy " + std::string(what) + ": " + os_error_text(error);
    };
}

// Where the earlier file of a name is when it could not be put back under its name, so that the
// person who reads the failure can put it back by hand (the next install does it too, when the
// name is empty).
std::string not_put_back(std::string_view installed_name, const StagedFile& file) {
    if (file.set_aside().empty()) {
        return {};
    }
    return "; the earlier " + std::string(installed_name) +
           " could not be put back and is kept as " + to_utf8(file.set_aside());
}

// Windows lets a running executable be renamed, and the download folder belongs to the
// unelevated user, so any of that user's processes could otherwise swap a file in while we work,
// and we would install its program as a LocalSystem service or as a caller the service trusts.
// Copying from the handle installs the bytes we opened, whatever the path names by then.
[[nodiscard]] TextResult<SourceExecutable>
open_source(const std::wstring& path, std::string_view what, std::string_view installed_name) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::unexpected(copy_failure(what)(GetLastError()));
    }
    return SourceExecutable{what, installed_name, std::move(file)};
}

} // namespace

// The protection starts with these opens: a swap between the start of this process and the open
// of its own file is not caught. Asking the loaded image for its file name cannot catch it either,
// because Windows may go on reporting the name an image was loaded under after a rename.
TextResult<std::vector<SourceExecutable>> open_source_executables() {
    VEMLOX_ASSIGN_OR_RETURN_MAPPED(os_error_text, const std::wstring running_path,
                                   running_executable_path());
    std::vector<SourceExecutable> sources;
    VEMLOX_ASSIGN_OR_RETURN(auto service, open_source(running_path, "service", SERVICE_EXE_NAME));
    sources.push_back(std::move(service));
    const std::wstring source_folder = parent_folder(running_path);
    if (source_folder.empty()) {
        return sources;
    }
    for (const std::string_view name : std::array{APP_EXE_NAME, APP_SHORT_EXE_NAME}) {
        const std::wstring path = join_path(source_folder, to_wide(name));
        if (!is_existing_file(path)) {
            continue;
        }
        VEMLOX_ASSIGN_OR_RETURN(auto app, open_source(path, name, name));
        sources.push_back(std::move(app));
    }
    return sources;
}

// A file that already is its installed copy (the installer run from the install folder, by
// whatever spelling of its path) is left alone; so is everything when the service's is.
TextResult<ExecutableUpdate> ExecutableUpdate::stage(std::vector<SourceExecutable> sources,
                                                     const std::wstring& folder, HoldWaits waits) {
    std::vector<Staged> staged;
    for (const SourceExecutable& source : sources) {
        const std::wstring target = join_path(folder, to_wide(source.installed_name));
        if (is_same_file(source.file.get(), target)) {
            if (source.installed_name == SERVICE_EXE_NAME) {
                break;
            }
            continue;
        }
        VEMLOX_ASSIGN_OR_RETURN_MAPPED(copy_failure(source.what), StagedFile file,
                                       StagedFile::write(source.file.get(), target, waits));
        staged.push_back(Staged{source.what, source.installed_name, std::move(file)});
    }
    return ExecutableUpdate(std::move(staged));
}

TextResult<void> ExecutableUpdate::move_in() {
    for (Staged& staged : staged_) {
        if (auto moved = staged.file.move_in(); !moved) {
            std::string failure = copy_failure(staged.what)(moved.error()) +
                                  not_put_back(staged.installed_name, staged.file);
            return std::unexpected(failure + move_back());
        }
        ++moved_in_;
    }
    return {};
}

std::string ExecutableUpdate::move_back() {
    std::string kept_aside;
    for (; moved_in_ > 0; --moved_in_) {
        Staged& staged = staged_[moved_in_ - 1];
        if (!staged.file.move_back()) {
            kept_aside += not_put_back(staged.installed_name, staged.file);
        }
    }
    return kept_aside;
}

void ExecutableUpdate::keep() {
    for (std::size_t index = 0; index < moved_in_; ++index) {
        staged_[index].file.drop_earlier();
    }
    moved_in_ = 0;
}

} // namespace vemlox::win
