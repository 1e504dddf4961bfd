#include "setup/held_file_retry.hpp"
#include "support/file_hold.hpp"
#include "support/temp_folder.hpp"
#include "win32_shared/unique_handle.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace vemlox::win {
namespace {

using std::chrono::milliseconds;
using testing::TempFolder;
using testing::write_file;

// Time that passes only when a retry pauses, or when a try says it took some.
class FakeClock final : public RetryClock {
  public:
    std::chrono::steady_clock::time_point now() override { return now_; }
    void pause(milliseconds duration) override {
        pauses.push_back(duration);
        now_ += duration;
    }
    void pass(milliseconds duration) { now_ += duration; }

    std::vector<milliseconds> pauses;

  private:
    std::chrono::steady_clock::time_point now_{};
};

// Pauses of a hold that never ends: doubling from 50 ms up to 500 ms, the last one cut to end
// exactly when the wait does.
std::vector<milliseconds> pauses_for_ever(milliseconds wait) {
    std::vector<milliseconds> pauses;
    milliseconds total{0};
    for (milliseconds pause{50}; total < wait; pause = std::min(pause * 2, milliseconds{500})) {
        pauses.push_back(std::min(pause, wait - total));
        total += pauses.back();
    }
    return pauses;
}

struct RetryCase {
    const char* name;
    FileChange change;
    // The errors of the tries in turn (0 for success); the last one repeats for ever.
    std::vector<std::uint32_t> errors;
    milliseconds wait;
    std::uint32_t expected_error; // 0 for success
    std::vector<milliseconds> expected_pauses;
};

TEST(HeldFileRetry, WaitsOutHoldsWithGrowingPausesUntilItsTimeIsUp) {
    const milliseconds ten_seconds{10'000};
    const RetryCase cases[] = {
        {"done at once", FileChange::Rename, {0}, ten_seconds, 0, {}},
        {"sharing and lock violations end",
         FileChange::Rename,
         {32, 33, 32, 0},
         ten_seconds,
         0,
         {milliseconds{50}, milliseconds{100}, milliseconds{200}}},
        {"access denied to a rename ends",
         FileChange::Rename,
         {5, 0},
         ten_seconds,
         0,
         {milliseconds{50}}},
        {"a deletion held for a moment",
         FileChange::Delete,
         {32, 33, 0},
         ten_seconds,
         0,
         {milliseconds{50}, milliseconds{100}}},
        {"a deletion refused for a running program", FileChange::Delete, {5}, ten_seconds, 5, {}},
        {"no hold: not found", FileChange::Rename, {2}, ten_seconds, 2, {}},
        {"no hold: the name is taken", FileChange::Rename, {183}, ten_seconds, 183, {}},
        {"a hold that outlasts the wait",
         FileChange::Rename,
         {32},
         ten_seconds,
         32,
         pauses_for_ever(ten_seconds)},
        {"access denied for ever",
         FileChange::Rename,
         {5},
         ten_seconds,
         5,
         pauses_for_ever(ten_seconds)},
        {"a restore waits longer",
         FileChange::Rename,
         {32},
         milliseconds{30'000},
         32,
         pauses_for_ever(milliseconds{30'000})},
        {"no wait: one try", FileChange::Rename, {32}, milliseconds{0}, 32, {}},
    };
    for (const RetryCase& each : cases) {
        FakeClock clock;
        std::size_t tries = 0;
        const auto outcome = retry_while_held(
            each.change,
            [&]() -> Win32Result<void> {
                const std::uint32_t error = each.errors[std::min(tries, each.errors.size() - 1)];
                ++tries;
                return error == 0 ? Win32Result<void>{} : std::unexpected(error);
            },
            each.wait, clock);
        EXPECT_EQ(outcome ? 0u : outcome.error(), each.expected_error) << each.name;
        EXPECT_EQ(clock.pauses, each.expected_pauses) << each.name;
        EXPECT_EQ(tries, each.expected_pauses.size() + 1) << each.name;
    }
}

// The wait counts from the first try, slow tries included: no try starts after it has ended.
TEST(HeldFileRetry, CountsTheTimeTheTriesTakeThemselves) {
    FakeClock clock;
    std::vector<milliseconds> started;
    const auto start = clock.now();
    const auto outcome = retry_while_held(
        FileChange::Rename,
        [&]() -> Win32Result<void> {
            started.push_back(std::chrono::duration_cast<milliseconds>(clock.now() - start));
            clock.pass(milliseconds{3'000});
            return std::unexpected(static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
        },
        milliseconds{10'000}, clock);
    ASSERT_FALSE(outcome);
    EXPECT_EQ(started, (std::vector<milliseconds>{milliseconds{0}, milliseconds{3'050},
                                                  milliseconds{6'150}, milliseconds{9'350}}));
}

// Under Wine, as on Windows, a handle opened without sharing deletion refuses every rename of
// its file (32), one from the same process included; the retried rename goes through once it is
// closed.
TEST(HeldFileRetry, RenamesAFileOnceAnotherThreadLetsGoOfIt) {
    const TempFolder folder;
    const std::wstring from = folder.file(L"vemlox.exe");
    const std::wstring to = folder.file(L"vemlox.exe.moved");
    ASSERT_TRUE(write_file(from, "app"));
    UniqueHandle held = testing::hold(from);
    ASSERT_TRUE(held);
    ASSERT_EQ(MoveFileExW(from.c_str(), to.c_str(), 0), 0);
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    std::jthread holder = testing::let_go_after(held, std::chrono::milliseconds{1'500});
    std::size_t tries = 0;
    const auto moved = retry_while_held(
        FileChange::Rename,
        [&]() -> Win32Result<void> {
            ++tries;
            if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) == 0) {
                return last_error();
            }
            return {};
        },
        milliseconds{10'000});
    holder.join();
    EXPECT_TRUE(moved.has_value()) << (moved ? 0u : moved.error());
    EXPECT_GT(tries, 1u);
    EXPECT_EQ(testing::read_file(to), "app");
    EXPECT_EQ(GetFileAttributesW(from.c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace
} // namespace vemlox::win
