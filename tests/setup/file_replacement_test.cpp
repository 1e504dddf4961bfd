#include "setup/file_replacement.hpp"
#include "support/file_hold.hpp"
#include "support/temp_folder.hpp"
#include "win32_shared/unique_handle.hpp"

#include <array>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vemlox::win {
namespace {

using testing::hold;
using testing::let_go_after;
using testing::read_file;
using testing::TempFolder;
using testing::write_file;

class FileReplacement : public ::testing::Test {
  protected:
    // A staged copy of `content` waiting beside `target`.
    StagedFile staged(const std::string& content, const std::wstring& target,
                      HoldWaits waits = {}) {
        const std::wstring source = folder_.file(L"download");
        write_file(source, content);
        UniqueHandle file(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        auto written = StagedFile::write(file.get(), target, waits);
        EXPECT_TRUE(written.has_value());
        file.reset();
        DeleteFileW(source.c_str());
        return std::move(written).value();
    }

    // Every file of the folder by name, with its content.
    std::vector<std::pair<std::wstring, std::string>> files() const {
        std::vector<std::pair<std::wstring, std::string>> found;
        WIN32_FIND_DATAW entry{};
        const HANDLE search = FindFirstFileW(folder_.file(L"*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) {
            return found;
        }
        do {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                found.emplace_back(entry.cFileName,
                                   read_file(folder_.file(entry.cFileName)).value_or(""));
            }
        } while (FindNextFileW(search, &entry) != 0);
        FindClose(search);
        return found;
    }

    TempFolder folder_;
    std::wstring target_ = folder_.file(L"vemlox-service.exe");
};

using Files = std::vector<std::pair<std::wstring, std::string>>;

TEST_F(FileReplacement, MovedInThenBackLeavesTheEarlierFileAloneUnderItsName) {
    write_file(target_, "old");
    StagedFile file = staged("new", target_);
    ASSERT_TRUE(file.move_in().has_value());
    EXPECT_EQ(read_file(target_), "new");
    ASSERT_TRUE(file.move_back().has_value());
    EXPECT_EQ(files(), (Files{{L"vemlox-service.exe", "old"}}));
}

TEST_F(FileReplacement, MovedInThenBackWithoutAnEarlierFileLeavesNone) {
    StagedFile file = staged("new", target_);
    ASSERT_TRUE(file.move_in().has_value());
    ASSERT_TRUE(file.move_back().has_value());
    EXPECT_EQ(files(), Files{});
}

TEST_F(FileReplacement, KeptLeavesTheNewFileAlone) {
    write_file(target_, "old");
    StagedFile file = staged("new", target_);
    ASSERT_TRUE(file.move_in().has_value());
    file.drop_earlier();
    EXPECT_EQ(files(), (Files{{L"vemlox-service.exe", "new"}}));
}

TEST_F(FileReplacement, AMoveInWaitsForABriefHoldOfTheTargetToEnd) {
    write_file(target_, "old");
    StagedFile file = staged("new", target_);
    UniqueHandle held = hold(target_);
    ASSERT_TRUE(held);
    ASSERT_EQ(MoveFileExW(target_.c_str(), (target_ + L".moved").c_str(), 0), 0);
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    {
        const std::jthread holder = let_go_after(held, std::chrono::milliseconds{1'500});
        ASSERT_TRUE(file.move_in().has_value());
    }
    EXPECT_EQ(read_file(target_), "new");
    EXPECT_EQ(read_file(file.set_aside()), "old");
}

// A scanner looks at the new file as soon as it is written.
TEST_F(FileReplacement, APartialFileHeldForAMomentIsStillDeleted) {
    std::optional<StagedFile> file(staged("new", target_));
    const std::wstring partial = target_ + L".partial";
    UniqueHandle held = hold(partial);
    ASSERT_TRUE(held);
    ASSERT_EQ(DeleteFileW(partial.c_str()), 0);
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    const std::jthread holder = let_go_after(held, std::chrono::milliseconds{1'000});
    file.reset();
    EXPECT_EQ(files(), Files{});
}

// Past its wait the rollback gives up, every file whole: the name keeps the new file, and the
// earlier one stays where it was set aside, for the failure message to name.
TEST_F(FileReplacement, AMoveBackHeldPastItsWaitLeavesTheEarlierFileSetAside) {
    const HoldWaits short_waits{std::chrono::milliseconds{200}, std::chrono::milliseconds{300}};
    write_file(target_, "old");
    StagedFile file = staged("new", target_, short_waits);
    ASSERT_TRUE(file.move_in().has_value());
    const std::wstring set_aside = file.set_aside();
    {
        const UniqueHandle held = hold(target_);
        ASSERT_TRUE(held);
        const auto moved_back = file.move_back();
        ASSERT_FALSE(moved_back.has_value());
        EXPECT_EQ(moved_back.error(), static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
    }
    EXPECT_EQ(read_file(target_), "new");
    EXPECT_EQ(file.set_aside(), set_aside);
    EXPECT_EQ(read_file(set_aside), "old");
}

// Putting an earlier file back restores a service that works, so it outwaits a hold that an
// update's own renames give up on.
TEST_F(FileReplacement, PuttingTheEarlierFileBackWaitsLongerThanMovingTheNewOneIn) {
    const HoldWaits waits{std::chrono::milliseconds{300}, std::chrono::milliseconds{10'000}};
    write_file(target_, "old");
    StagedFile file = staged("new", target_, waits);
    ASSERT_TRUE(file.move_in().has_value());
    UniqueHandle held = hold(target_);
    ASSERT_TRUE(held);
    {
        const std::jthread holder = let_go_after(held, std::chrono::milliseconds{1'500});
        ASSERT_TRUE(file.move_back().has_value());
    }
    EXPECT_EQ(files(), (Files{{L"vemlox-service.exe", "old"}}));

    // A move in that fails puts the earlier file back, held for a while once it is set aside.
    StagedFile again = staged("new", target_, waits);
    const UniqueHandle held_new = hold(target_ + L".partial");
    ASSERT_TRUE(held_new);
    UniqueHandle held_earlier;
    bool was_held = false;
    std::jthread scanner([&] {
        for (int polls = 0; polls < 500 && !held_earlier; ++polls) {
            WIN32_FIND_DATAW found{};
            const HANDLE search =
                FindFirstFileW(folder_.file(L"vemlox-service.exe.replaced-*").c_str(), &found);
            if (search != INVALID_HANDLE_VALUE) {
                FindClose(search);
                held_earlier = hold(folder_.file(found.cFileName));
            }
            Sleep(5);
        }
        was_held = static_cast<bool>(held_earlier);
        Sleep(1'500);
        held_earlier.reset();
    });
    const auto moved = again.move_in();
    scanner.join();
    ASSERT_TRUE(was_held) << "the set-aside file was never held";
    ASSERT_FALSE(moved.has_value());
    EXPECT_EQ(moved.error(), static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(read_file(target_), "old");
    EXPECT_EQ(again.set_aside(), L"");
}

// What an install killed between the two renames leaves: the name empty, set-aside copies beside.
TEST_F(FileReplacement, AMissingFileGetsItsNewestSetAsideCopyBack) {
    constexpr std::array<std::string_view, 2> names{"vemlox-service.exe", "vemlox.exe"};
    write_file(folder_.file(L"vemlox-service.exe.replaced-133000000000000000"), "older");
    write_file(folder_.file(L"vemlox-service.exe.replaced-133000000000000009"), "newest");
    write_file(folder_.file(L"vemlox.exe"), "app");
    write_file(folder_.file(L"vemlox.exe.replaced-133000000000000005"), "earlier app");
    restore_interrupted_replacements(folder_.path(), names);
    EXPECT_EQ(read_file(target_), "newest");
    EXPECT_EQ(read_file(folder_.file(L"vemlox.exe")), "app");

    delete_leftover_files(folder_.path());
    EXPECT_EQ(files(), (Files{{L"vemlox-service.exe", "newest"}, {L"vemlox.exe", "app"}}));
}

} // namespace
} // namespace vemlox::win
