#include "machine/system_restore_win.hpp"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace vemlox::win {
namespace {

// The DLL names this executable imports statically, lower case.
std::vector<std::string> static_imports() {
    const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> names;
    for (const auto* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         entry->Name != 0; ++entry) {
        std::string name(reinterpret_cast<const char*>(base + entry->Name));
        std::ranges::transform(name, name.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        names.push_back(name);
    }
    return names;
}

// This test executable links the restore-point code; a static import would show up here.
TEST(SystemRestore, IsNeverImportedStatically) {
    const auto imports = static_imports();

    EXPECT_NE(std::ranges::find(imports, "kernel32.dll"), imports.end());
    EXPECT_EQ(std::ranges::find(imports, "sfc.dll"), imports.end());
    EXPECT_EQ(std::ranges::find(imports, "srclient.dll"), imports.end());
}

// Wine's SRSetRestorePointW is a stub that fails with status 0 and writes no sequence number.
TEST(SystemRestore, ReachesSetRestorePointW) {
    WinSystemRestore restore;
    RestorePointInfo info{};
    info.event_type = 100;
    info.restore_point_type = 12;
    std::ranges::copy(std::u16string_view(u"Vemlox: test"), info.description);
    StateManagerStatus status{};
    status.status = 0x77777777;

    const auto result = restore.set_restore_point(info, status);

    ASSERT_TRUE(result) << result.error().shown_text();
    const std::uint32_t written = status.status;
    if (!*result) {
        EXPECT_NE(written, 0x77777777u) << "a failed call reports its status";
    }
}

} // namespace
} // namespace vemlox::win
