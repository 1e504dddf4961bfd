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
                                                     const std::wstring& folder) {
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
                                       StagedFile::write(source.file.get(), target));
        staged.push_back(Staged{source.what, std::move(file)});
    }
    return ExecutableUpdate(std::move(staged));
}

TextResult<void> ExecutableUpdate::move_in() {
    for (Staged& staged : staged_) {
        if (auto moved = staged.file.move_in(); !moved) {
            move_back();
            return std::unexpected(copy_failure(staged.what)(moved.error()));
        }
        ++moved_in_;
    }
    return {};
}

void ExecutableUpdate::move_back() {
    for (; moved_in_ > 0; --moved_in_) {
        static_cast<void>(staged_[moved_in_ - 1].file.move_back());
    }
}

void ExecutableUpdate::keep() {
    for (std::size_t index = 0; index < moved_in_; ++index) {
        staged_[index].file.drop_earlier();
    }
    moved_in_ = 0;
}

} // namespace vemlox::win
