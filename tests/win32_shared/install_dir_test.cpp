#include "win32_shared/install_dir.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <windows.h>

namespace vemlox::win {
namespace {

// Puts the variable back as it was, so other tests see the real environment.
class InstallDir : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t buffer[32768] = {};
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(L"ProgramFiles", buffer, 32768);
        if (length != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
            saved_ = std::wstring(buffer, length);
        }
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"ProgramFiles", saved_ ? saved_->c_str() : nullptr);
    }

    static void set(const wchar_t* value) {
        ASSERT_NE(SetEnvironmentVariableW(L"ProgramFiles", value), 0);
    }

  private:
    std::optional<std::wstring> saved_;
};

struct JoinCase {
    const wchar_t* program_files;
    const wchar_t* expected;
};

const JoinCase JOIN_CASES[] = {
    JoinCase{LR"(C:\Program Files)", LR"(C:\Program Files\Vemlox)"},
    JoinCase{LR"(C:\Program Files\)", LR"(C:\Program Files\Vemlox)"},
    JoinCase{LR"(C:\Program Files/)", LR"(C:\Program Files/Vemlox)"},
    JoinCase{L"C:", L"C:Vemlox"},
    JoinCase{LR"(C:\)", LR"(C:\Vemlox)"},
    JoinCase{LR"(D:\Apps)", LR"(D:\Apps\Vemlox)"},
    JoinCase{L"", L"Vemlox"},
};

TEST_F(InstallDir, JoinsProgramFilesWithVemlox) {
    for (const JoinCase& param : JOIN_CASES) {
        set(param.program_files);
        const auto folder = install_dir();
        ASSERT_TRUE(folder) << folder.error();
        EXPECT_EQ(*folder, std::wstring(param.expected));
    }
}

TEST_F(InstallDir, MissingVariableIsReported) {
    set(nullptr);
    const auto folder = install_dir();
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error(), "ProgramFiles is not set");
}

TEST_F(InstallDir, LongValueIsReadWhole) {
    const std::wstring long_value = L"C:\\" + std::wstring(600, L'p');
    set(long_value.c_str());
    EXPECT_EQ(install_dir(), long_value + L"\\Vemlox");
}

} // namespace
} // namespace vemlox::win
