#include "setup/file_replacement.hpp"
#include "support/temp_folder.hpp"
#include "win32_shared/unique_handle.hpp"

#include <array>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vemlox::win {
namespace {

using testing::read_file;
using testing::TempFolder;
using testing::write_file;

class FileReplacement : public ::testing::Test {
  protected:
    // A staged copy of `content` waiting beside `target`.
    StagedFile staged(const std::string& content, const std::wstring& target) {
        const std::wstring source = folder_.file(L"download");
        write_file(source, content);
        UniqueHandle file(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        auto written = StagedFile::write(file.get(), target);
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
