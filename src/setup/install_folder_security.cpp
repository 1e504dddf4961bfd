#include "setup/install_folder_security.hpp"

#include "win32_shared/os_error_text.hpp"

#include <aclapi.h>
#include <sddl.h>

namespace vemlox::win {

namespace {

// O:BA   owner Administrators;
// D:P    a protected DACL: the parent's inheritable entries (on a second drive often "Users may
//        create and change files") are dropped;
// OICI   each entry inherited by files (OI) and folders (CI) within;
// FA     full control (FILE_ALL_ACCESS) for SYSTEM (SY) and Administrators (BA);
// FRFX   read and execute (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE) for Users (BU).
constexpr const wchar_t* INSTALL_FOLDER_SDDL =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";

[[nodiscard]] std::string protect_failure(std::uint32_t error) {
    return "protect install folder: " + os_error_text(error);
}

} // namespace

Win32Result<UniqueLocalMemory> install_folder_descriptor() {
    UniqueLocalMemory descriptor;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(INSTALL_FOLDER_SDDL, SDDL_REVISION_1,
                                                             descriptor.put(), nullptr) == 0) {
        return last_error();
    }
    return descriptor;
}

// One call sets the owner and the DACL. The installer runs elevated: its token holds
// Administrators as a group that may own objects, and Administrators' full control, which every
// folder that Windows or an administrator made grants, includes the rights to change the owner
// and the DACL. A folder whose DACL withholds them from Administrators fails here, before any
// file is written into it.
TextResult<void> protect_install_folder(const std::wstring& folder) {
    VEMLOX_ASSIGN_OR_RETURN_MAPPED(protect_failure, const UniqueLocalMemory descriptor,
                                   install_folder_descriptor());
    PSID owner = nullptr;
    BOOL owner_defaulted = FALSE;
    PACL dacl = nullptr;
    BOOL dacl_present = FALSE;
    BOOL dacl_defaulted = FALSE;
    if (GetSecurityDescriptorOwner(descriptor.get(), &owner, &owner_defaulted) == 0 ||
        GetSecurityDescriptorDacl(descriptor.get(), &dacl_present, &dacl, &dacl_defaulted) == 0) {
        return std::unexpected(protect_failure(GetLastError()));
    }
    std::wstring path = folder;
    const DWORD status =
        SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                  PROTECTED_DACL_SECURITY_INFORMATION,
                              owner, nullptr, dacl, nullptr);
    VEMLOX_RETURN_IF_ERROR_MAPPED(protect_failure, status_result(status));
    return {};
}

} // namespace vemlox::win
