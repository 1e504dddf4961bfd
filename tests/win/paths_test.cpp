#include "win/paths.hpp"

#include <gtest/gtest.h>
#include <string>

namespace vemlox::win {
namespace {

TEST(ParentFolder, KeepsTheSeparatorOfARootOnly) {
    EXPECT_EQ(parent_folder(LR"(C:\Program Files\Vemlox\vemlox-service.exe)"),
              LR"(C:\Program Files\Vemlox)");
    EXPECT_EQ(parent_folder(LR"(C:\vemlox-service.exe)"), LR"(C:\)");
    EXPECT_EQ(parent_folder(LR"(C:/a/b.exe)"), LR"(C:/a)");
    EXPECT_EQ(parent_folder(LR"(\\server\share\b.exe)"), LR"(\\server\share)");
    EXPECT_EQ(parent_folder(LR"(\b.exe)"), LR"(\)");
    EXPECT_EQ(parent_folder(L"C:b.exe"), L"C:");
    EXPECT_EQ(parent_folder(L"b.exe"), L"");
    EXPECT_EQ(parent_folder(L""), L"");
}

TEST(JoinPath, AddsABackslashOnlyWhereNeeded) {
    EXPECT_EQ(join_path(LR"(C:\Program Files\Vemlox)", L"service.log"),
              LR"(C:\Program Files\Vemlox\service.log)");
    EXPECT_EQ(join_path(LR"(C:\)", L"service.log"), LR"(C:\service.log)");
    EXPECT_EQ(join_path(L"C:/x/", L"service.log"), L"C:/x/service.log");
    EXPECT_EQ(join_path(L"C:", L"service.log"), L"C:service.log");
    EXPECT_EQ(join_path(L"", L"service.log"), L"service.log");
}

struct SamePathCase {
    const wchar_t* a;
    const wchar_t* b;
    bool same;
};

class SamePath : public ::testing::TestWithParam<SamePathCase> {};

TEST_P(SamePath, ComparesComponents) {
    EXPECT_EQ(same_path(GetParam().a, GetParam().b), GetParam().same);
    EXPECT_EQ(same_path(GetParam().b, GetParam().a), GetParam().same);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SamePath,
    ::testing::Values(SamePathCase{LR"(C:\Program Files\Vemlox\vemlox-service.exe)",
                                   LR"(C:\Program Files\Vemlox\vemlox-service.exe)", true},
                      // Drive letters fold, nothing else does.
                      SamePathCase{LR"(c:\Program Files\Vemlox\vemlox-service.exe)",
                                   LR"(C:\Program Files\Vemlox\vemlox-service.exe)", true},
                      SamePathCase{LR"(C:\program files\Vemlox\vemlox-service.exe)",
                                   LR"(C:\Program Files\Vemlox\vemlox-service.exe)", false},
                      // Separators and "." are not components.
                      SamePathCase{LR"(C:\Program Files\\Vemlox\.\vemlox-service.exe)",
                                   LR"(C:/Program Files/Vemlox/vemlox-service.exe)", true},
                      SamePathCase{LR"(C:\Vemlox\)", LR"(C:\Vemlox)", true},
                      // ".." is a component of its own, not resolved.
                      SamePathCase{LR"(C:\x\..\Vemlox)", LR"(C:\Vemlox)", false},
                      SamePathCase{LR"(C:\Vemlox)", LR"(D:\Vemlox)", false},
                      SamePathCase{LR"(C:\Vemlox)", LR"(C:Vemlox)", false},
                      SamePathCase{LR"(\\server\share\x)", LR"(\server\share\x)", false},
                      SamePathCase{LR"(Z:\build\vemlox-service.exe)",
                                   LR"(C:\Program Files\Vemlox\vemlox-service.exe)", false}));

} // namespace
} // namespace vemlox::win
