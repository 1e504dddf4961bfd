// Win32 paths as this program handles them: the running executable's path, parent folders,
// joining and comparing by components. Paths stay UTF-16 because they go back to Windows.
#pragma once

#include "win32_shared/win32_result.hpp"

#include <string>
#include <string_view>

namespace vemlox::win {

// The full path of the running executable, or the Windows error code.
[[nodiscard]] Win32Result<std::wstring> running_executable_path();

// The folder part before the last path separator, keeping the separator of a root
// ("C:\x.exe" gives "C:\"); empty when the path has no separator.
[[nodiscard]] std::wstring parent_folder(std::wstring_view path);

// `folder` and `name` with a backslash between them, unless `folder` is empty, already ends in a
// separator ("\" or "/"), or is a bare drive such as "C:".
[[nodiscard]] std::wstring join_path(std::wstring_view folder, std::wstring_view name);

// True when both paths have the same sequence of components: drive letters compare without
// regard to case, every other component exactly; repeated separators and "." are not components.
[[nodiscard]] bool same_path(std::wstring_view a, std::wstring_view b);

// The Windows system folder (System32) and the Windows folder; empty when they cannot be found out.
[[nodiscard]] std::wstring system_folder();
[[nodiscard]] std::wstring windows_folder();

// True when `path` names an existing file (not a folder).
[[nodiscard]] bool is_existing_file(const std::wstring& path);

} // namespace vemlox::win
