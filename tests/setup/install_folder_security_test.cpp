#include "setup/install_folder_security.hpp"
#include "support/temp_folder.hpp"
#include "win32_shared/os_error_text.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vemlox::win {
namespace {

// A well-known SID, as Windows builds it in every language.
std::vector<unsigned char> well_known(WELL_KNOWN_SID_TYPE type) {
    std::vector<unsigned char> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    EXPECT_NE(CreateWellKnownSid(type, nullptr, sid.data(), &size), 0);
    sid.resize(size);
    return sid;
}

bool is_sid(PSID sid, WELL_KNOWN_SID_TYPE type) {
    std::vector<unsigned char> expected = well_known(type);
    return sid != nullptr && IsValidSid(sid) && EqualSid(sid, expected.data()) != 0;
}

struct ExpectedEntry {
    const char* who;
    WELL_KNOWN_SID_TYPE sid;
    ACCESS_MASK mask;
};

// Wine keeps no file DACL that reads back, so the descriptor is checked as install hands it to
// Windows: parsed back entry by entry.
TEST(InstallFolderSecurity, OnlyAdministratorsAndTheSystemMayChangeTheFolder) {
    const auto descriptor = install_folder_descriptor();
    ASSERT_TRUE(descriptor.has_value()) << descriptor.error();
    const PSECURITY_DESCRIPTOR sd = descriptor->get();

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_NE(GetSecurityDescriptorControl(sd, &control, &revision), 0);
    EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "the parent's entries must not be inherited";
    EXPECT_NE(control & SE_DACL_PRESENT, 0);

    PSID owner = nullptr;
    BOOL owner_defaulted = TRUE;
    ASSERT_NE(GetSecurityDescriptorOwner(sd, &owner, &owner_defaulted), 0);
    EXPECT_TRUE(is_sid(owner, WinBuiltinAdministratorsSid)) << "owner";
    EXPECT_FALSE(owner_defaulted);

    BOOL present = FALSE;
    BOOL defaulted = TRUE;
    PACL dacl = nullptr;
    ASSERT_NE(GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted), 0);
    ASSERT_TRUE(present);
    ASSERT_NE(dacl, nullptr) << "a null DACL lets everyone do everything";
    EXPECT_FALSE(defaulted);

    const ExpectedEntry expected[] = {
        {"SYSTEM", WinLocalSystemSid, FILE_ALL_ACCESS},
        {"Administrators", WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
        {"Users", WinBuiltinUsersSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
    };
    ACL_SIZE_INFORMATION size{};
    ASSERT_NE(GetAclInformation(dacl, &size, sizeof size, AclSizeInformation), 0);
    ASSERT_EQ(size.AceCount, std::size(expected));
    for (DWORD index = 0; index < size.AceCount; ++index) {
        const ExpectedEntry& entry = expected[index];
        void* ace = nullptr;
        ASSERT_NE(GetAce(dacl, index, &ace), 0);
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        ASSERT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE) << entry.who;
        EXPECT_EQ(header->AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) << entry.who;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(allowed->Mask, entry.mask) << entry.who;
        EXPECT_TRUE(is_sid(&allowed->SidStart, entry.sid)) << entry.who;
    }
}

TEST(InstallFolderSecurity, IsAppliedToAFolderAndSaysWhyNotWhereItCannotBe) {
    const testing::TempFolder folder;
    EXPECT_TRUE(protect_install_folder(folder.path()).has_value());
    const auto missing = protect_install_folder(folder.file(L"missing\\Vemlox"));
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error(), "protect install folder: " + os_error_text(ERROR_PATH_NOT_FOUND));
}

} // namespace
} // namespace vemlox::win
