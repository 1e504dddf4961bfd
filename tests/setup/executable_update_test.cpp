#include "setup/executable_update.hpp"
#include "setup/file_replacement.hpp"
#include "support/file_hold.hpp"
#include "support/temp_folder.hpp"
#include "win32_shared/os_error_text.hpp"
#include "win32_shared/wide.hpp"

#include <array>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vemlox::win {
namespace {

using std::chrono::milliseconds;
using testing::hold;
using testing::read_file;
using testing::TempFolder;
using testing::write_file;

// The first file whose name matches `pattern` in `folder`, by its full path; empty when none.
std::wstring find_file(const TempFolder& folder, const std::wstring& pattern) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(folder.file(pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return {};
    }
    FindClose(search);
    return folder.file(found.cFileName);
}

// The worst a hold can do to an update: the new file held as it is about to be moved in, and the
// earlier one, once set aside, held until even putting it back has given up. The name is left
// empty, and the failure says where its file is; the next install puts it back.
TEST(ExecutableUpdate, AFileThatCannotBePutBackIsNamedWhereItIsKept) {
    const TempFolder download;
    const TempFolder installed;
    const std::wstring target = installed.file(L"vemlox-service.exe");
    ASSERT_TRUE(write_file(download.file(L"vemlox-service.exe"), "new"));
    ASSERT_TRUE(write_file(target, "old"));
    std::vector<SourceExecutable> sources;
    sources.push_back(SourceExecutable{
        "service", "vemlox-service.exe",
        UniqueHandle(CreateFileW(download.file(L"vemlox-service.exe").c_str(), GENERIC_READ,
                                 FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr))});
    const HoldWaits waits{milliseconds{2'000}, milliseconds{500}};
    auto update = ExecutableUpdate::stage(std::move(sources), installed.path(), waits);
    ASSERT_TRUE(update.has_value()) << update.error();

    UniqueHandle held_new = hold(target + L".partial");
    ASSERT_TRUE(held_new);
    UniqueHandle held_earlier;
    std::wstring set_aside;
    std::jthread scanner([&] {
        for (int polls = 0; polls < 150 && !held_earlier; ++polls) {
            set_aside = find_file(installed, L"vemlox-service.exe.replaced-*");
            if (!set_aside.empty()) {
                held_earlier = hold(set_aside);
            }
            Sleep(10);
        }
    });
    const auto moved = update->move_in();
    scanner.join();
    ASSERT_TRUE(held_earlier) << "the set-aside file was never held";
    ASSERT_FALSE(moved.has_value());
    EXPECT_EQ(moved.error(),
              "copy service: " + os_error_text(ERROR_SHARING_VIOLATION) +
                  "; the earlier vemlox-service.exe could not be put back and is kept as " +
                  to_utf8(set_aside));
    EXPECT_EQ(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(read_file(set_aside), "old");

    held_earlier.reset();
    held_new.reset();
    constexpr std::array<std::string_view, 1> names{"vemlox-service.exe"};
    restore_interrupted_replacements(installed.path(), names);
    EXPECT_EQ(read_file(target), "old");
}

} // namespace
} // namespace vemlox::win
