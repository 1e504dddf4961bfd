// The install folder closed to standard users: the service runs as LocalSystem from it, Windows
// looks for its DLLs there first, and it trusts its callers by their path there, so only
// administrators and the system may change anything in it.
#pragma once

#include "protocol/text_result.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/win32_result.hpp"

#include <string>

namespace vemlox::win {

// The folder's security descriptor: Administrators as owner, and a protected DACL (nothing
// inherited from the parent) giving SYSTEM and Administrators full control and Users read and
// execute, each entry inherited by every file and folder within. Well-known SIDs only, never
// account names, which differ from one language of Windows to the next.
[[nodiscard]] Win32Result<UniqueLocalMemory> install_folder_descriptor();

// Gives `folder` that owner and DACL, whoever made it and whatever it allowed before. Files
// already in it take the new inherited entries in place of their old ones. Fails with
// "protect install folder: " and the OS error text.
[[nodiscard]] TextResult<void> protect_install_folder(const std::wstring& folder);

} // namespace vemlox::win
