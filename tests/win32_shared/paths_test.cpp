#include "win32_shared/paths.hpp"
#include "win32_shared/wide.hpp"

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

const SamePathCase SAME_PATH_CASES[] = {
    {LR"(C:\Program Files\Vemlox\vemlox-service.exe)",
     LR"(C:\Program Files\Vemlox\vemlox-service.exe)", true},
    // Drive letters fold, nothing else does.
    {LR"(c:\Program Files\Vemlox\vemlox-service.exe)",
     LR"(C:\Program Files\Vemlox\vemlox-service.exe)", true},
    {LR"(C:\program files\Vemlox\vemlox-service.exe)",
     LR"(C:\Program Files\Vemlox\vemlox-service.exe)", false},
    // Separators and "." are not components.
    {LR"(C:\Program Files\\Vemlox\.\vemlox-service.exe)",
     LR"(C:/Program Files/Vemlox/vemlox-service.exe)", true},
    {LR"(C:\Vemlox\)", LR"(C:\Vemlox)", true},
    // ".." is a component of its own, not resolved.
    {LR"(C:\x\..\Vemlox)", LR"(C:\Vemlox)", false},
    {LR"(C:\Vemlox)", LR"(D:\Vemlox)", false},
    {LR"(C:\Vemlox)", LR"(C:Vemlox)", false},
    {LR"(\\server\share\x)", LR"(\server\share\x)", false},
    {LR"(Z:\build\vemlox-service.exe)", LR"(C:\Program Files\Vemlox\vemlox-service.exe)", false},
};

TEST(SamePath, ComparesComponents) {
    for (const SamePathCase& param : SAME_PATH_CASES) {
        EXPECT_EQ(same_path(param.a, param.b), param.same)
            << to_utf8(param.a) << " vs " << to_utf8(param.b);
        EXPECT_EQ(same_path(param.b, param.a), param.same)
            << to_utf8(param.b) << " vs " << to_utf8(param.a);
    }
}

} // namespace
} // namespace vemlox::win
