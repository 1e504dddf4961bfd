#include "setup/install_dir.hpp"

#include <cwchar>
#include <expected>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <windows.h>

namespace vemlox::win {
namespace {

// How the folder is joined to "Vemlox" is the join rule's own test; this is about reading the
// variable: set, empty, missing, and longer than the first buffer.
TEST(InstallDir, IsProgramFilesJoinedWithVemlox) {
    wchar_t buffer[32768] = {};
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(L"ProgramFiles", buffer, 32768);
    const bool was_set = length != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    const std::wstring long_value = L"C:\\" + std::wstring(600, L'p');
    const std::pair<const wchar_t*, std::expected<std::wstring, std::string>> cases[] = {
        {LR"(C:\Program Files)", LR"(C:\Program Files\Vemlox)"},
        {L"", L"Vemlox"},
        {nullptr, std::unexpected("ProgramFiles is not set")},
        {long_value.c_str(), long_value + L"\\Vemlox"},
    };

    for (const auto& [value, expected] : cases) {
        ASSERT_NE(SetEnvironmentVariableW(L"ProgramFiles", value), 0);
        EXPECT_EQ(install_dir(), expected) << (value == nullptr ? 0 : std::wcslen(value));
    }

    SetEnvironmentVariableW(L"ProgramFiles", was_set ? buffer : nullptr);
}

} // namespace
} // namespace vemlox::win
