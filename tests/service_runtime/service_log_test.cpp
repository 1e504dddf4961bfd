#include "service_runtime/service_log.hpp"
#include "support/temp_folder.hpp"
#include "win32_shared/unique_handle.hpp"

#include <aclapi.h>
#include <ctime>
#include <gtest/gtest.h>
#include <optional>
#include <sddl.h>
#include <string>
#include <vector>

namespace vemlox::win {
namespace {

using testing::read_file;
using testing::TempFolder;
using testing::write_file;

// The lines of a log without their timestamps; every line must be "<digits> <message>\n".
std::vector<std::string> messages_of(const std::string& log) {
    std::vector<std::string> messages;
    std::size_t start = 0;
    while (start < log.size()) {
        const std::size_t end = log.find('\n', start);
        EXPECT_NE(end, std::string::npos) << "last line has no line feed";
        if (end == std::string::npos) {
            break;
        }
        const std::string line = log.substr(start, end - start);
        const std::size_t space = line.find(' ');
        EXPECT_NE(space, std::string::npos);
        EXPECT_GT(space, 0u);
        EXPECT_EQ(line.find_first_not_of("0123456789"), space) << line;
        EXPECT_TRUE(space == 1 || line[0] != '0') << "leading zero in " << line;
        messages.push_back(space == std::string::npos ? line : line.substr(space + 1));
        start = end + 1;
    }
    EXPECT_EQ(log.find('\r'), std::string::npos) << "no CR is ever written";
    return messages;
}

class ServiceLog : public ::testing::Test {
  protected:
    TempFolder folder_;
    std::wstring log_ = folder_.file(L"service.log");
    std::wstring older_ = folder_.file(L"service.log.1");
};

TEST_F(ServiceLog, FirstLineCreatesTheFileWithTimestampAndMessage) {
    const auto before = static_cast<long long>(std::time(nullptr));
    append_log(folder_.path(), "started");
    const auto after = static_cast<long long>(std::time(nullptr));

    const auto content = read_file(log_);
    ASSERT_TRUE(content);
    EXPECT_EQ(messages_of(*content), std::vector<std::string>{"started"});
    const long long stamp = std::stoll(content->substr(0, content->find(' ')));
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    EXPECT_FALSE(read_file(older_));
}

TEST_F(ServiceLog, OneLinePerCallInOrderWithEveryCrAndLfTurnedIntoASpace) {
    append_log(folder_.path(), "a\r\nb\n");
    append_log(folder_.path(), "");
    append_log(folder_.path(), "\r");
    append_log(folder_.path(), "tab\there \xC3\xA9 \"q\"");
    EXPECT_EQ(messages_of(*read_file(log_)),
              (std::vector<std::string>{"a  b ", "", " ", "tab\there \xC3\xA9 \"q\""}));
}

TEST_F(ServiceLog, FileOfExactlyTheLimitGetsOneMoreLineAndRotatesAtTheNext) {
    const std::string full(LOG_ROTATION_BYTES, 'x');
    write_file(log_, full);

    append_log(folder_.path(), "one more");
    const auto grown = read_file(log_);
    ASSERT_TRUE(grown);
    EXPECT_EQ(grown->substr(0, full.size()), full);
    EXPECT_EQ(messages_of(grown->substr(full.size())), std::vector<std::string>{"one more"});
    EXPECT_FALSE(read_file(older_));

    append_log(folder_.path(), "after rotation");
    EXPECT_EQ(messages_of(*read_file(log_)), std::vector<std::string>{"after rotation"});
    EXPECT_EQ(read_file(older_), grown);
}

TEST_F(ServiceLog, FileOneByteOverTheLimitReplacesTheOlderGenerationBeforeWriting) {
    write_file(older_, "generation before last\n");
    const std::string over(LOG_ROTATION_BYTES + 1, 'y');
    write_file(log_, over);
    append_log(folder_.path(), "fresh");
    EXPECT_EQ(messages_of(*read_file(log_)), std::vector<std::string>{"fresh"});
    EXPECT_EQ(read_file(older_), over);
}

TEST_F(ServiceLog, AppendsAtTheEndWhileOthersHoldTheFileOpenAndWriteIt) {
    append_log(folder_.path(), "first");
    const UniqueHandle reader(CreateFileW(log_.c_str(), GENERIC_READ, testing::SHARE_EVERYTHING,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    ASSERT_TRUE(write_file(log_, *read_file(log_) + "1 from elsewhere\n"));
    append_log(folder_.path(), "second");
    EXPECT_EQ(messages_of(*read_file(log_)),
              (std::vector<std::string>{"first", "from elsewhere", "second"}));
}

// The file's DACL in SDDL, or "" when it cannot be read.
std::wstring dacl_of(const std::wstring& path) {
    UniqueLocalMemory descriptor;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &raw) != ERROR_SUCCESS) {
        return {};
    }
    descriptor.reset(raw);
    UniqueLocalMemory text;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
            reinterpret_cast<LPWSTR*>(text.put()), nullptr) == 0) {
        return {};
    }
    return static_cast<const wchar_t*>(text.get());
}

// Windows gives the new log exactly the protected DACL of SYSTEM and Administrators. Wine keeps
// only what Unix permissions can hold (SYSTEM and the owner, with Everyone when others may read),
// so there the check is what matters on both: no entry for any group of users.
TEST_F(ServiceLog, NewLogIsClosedToUsers) {
    append_log(folder_.path(), "first");

    const std::wstring dacl = dacl_of(log_);
    ASSERT_FALSE(dacl.empty());
    for (const std::wstring users : {L";WD)", L";BU)", L";AU)", L";IU)"}) {
        EXPECT_EQ(dacl.find(users), std::wstring::npos) << ::testing::PrintToString(dacl);
    }
}

// Wine keeps no DACL it is given on an existing file, so only the rest shows here: nothing is
// created, nothing is lost, and the service still appends.
TEST_F(ServiceLog, ProtectingTheLogFilesCreatesNoneAndKeepsTheirContent) {
    protect_log_files(folder_.path());
    EXPECT_FALSE(read_file(log_));
    EXPECT_FALSE(read_file(older_));

    write_file(older_, "older\n");
    append_log(folder_.path(), "first");
    protect_log_files(folder_.path());
    append_log(folder_.path(), "second");
    EXPECT_EQ(read_file(older_), "older\n");
    EXPECT_EQ(messages_of(*read_file(log_)), (std::vector<std::string>{"first", "second"}));
}

TEST_F(ServiceLog, FolderThatCannotBeWrittenIsSilentlyIgnored) {
    const std::wstring missing = folder_.file(L"no such folder");
    append_log(missing, "lost");
    EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);

    // A file where the folder should be.
    const std::wstring not_a_folder = folder_.file(L"plain file");
    write_file(not_a_folder, "content");
    append_log(not_a_folder, "lost");
    EXPECT_EQ(read_file(not_a_folder), "content");
}

} // namespace
} // namespace vemlox::win
