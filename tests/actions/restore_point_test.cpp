#include "actions/restore_point.hpp"

#include <deque>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vemlox {
namespace {

// What one call was given, copied out of the packed structures (whose members are not aligned).
struct Call {
    std::uint32_t event_type;
    std::uint32_t restore_point_type;
    std::int64_t sequence_number;
    std::u16string description;
    std::uint32_t status_given;
    std::int64_t status_sequence_number_given;
};

// Records what each call was given and answers from a queue: the result and what the system
// writes into the status.
class FakeSystemRestore : public SystemRestore {
  public:
    struct Answer {
        ActionResult<bool> result;
        StateManagerStatus status;
    };
    std::deque<Answer> answers;
    std::vector<Call> calls;

    ActionResult<bool> set_restore_point(const RestorePointInfo& info,
                                         StateManagerStatus& status) override {
        calls.push_back(Call{info.event_type, info.restore_point_type, info.sequence_number,
                             std::u16string(info.description, std::size(info.description)),
                             status.status, status.sequence_number});
        if (answers.empty()) {
            return std::unexpected(ActionError::os_error("unexpected call"));
        }
        Answer answer = answers.front();
        answers.pop_front();
        status = answer.status;
        return answer.result;
    }
};

std::u16string expected_description() {
    std::u16string description(u"Vemlox: before fixes");
    description.resize(256, u'\0');
    return description;
}

TEST(CreateRestorePoint, BeginsAndEndsTheChangeWithTheSequenceNumberReturned) {
    FakeSystemRestore restore;
    restore.answers.push_back({true, {0, 0x1234'5678'9ABC}});
    restore.answers.push_back({true, {0, 0}});

    ASSERT_TRUE(create_restore_point(restore));

    ASSERT_EQ(restore.calls.size(), 2u);
    EXPECT_EQ(restore.calls[0].event_type, 100u);
    EXPECT_EQ(restore.calls[0].restore_point_type, 12u);
    EXPECT_EQ(restore.calls[0].sequence_number, 0);
    EXPECT_EQ(restore.calls[0].description, expected_description());
    EXPECT_EQ(restore.calls[0].status_given, 0u);
    EXPECT_EQ(restore.calls[0].status_sequence_number_given, 0);

    EXPECT_EQ(restore.calls[1].event_type, 101u);
    EXPECT_EQ(restore.calls[1].restore_point_type, 12u);
    EXPECT_EQ(restore.calls[1].sequence_number, 0x1234'5678'9ABC);
    EXPECT_EQ(restore.calls[1].description, expected_description());
}

TEST(CreateRestorePoint, FailedClosingCallIsNotReported) {
    FakeSystemRestore restore;
    restore.answers.push_back({true, {0, 7}});
    restore.answers.push_back({false, {5, 0}});

    EXPECT_TRUE(create_restore_point(restore));
    EXPECT_EQ(restore.calls.size(), 2u);
}

TEST(CreateRestorePoint, FailedFirstCallMapsItsStatusAndMakesNoSecondCall) {
    struct Case {
        std::uint32_t status;
        ActionError error;
    };
    const Case cases[] = {
        {1058, ActionError::not_supported()},
        {5, ActionError::os_error("System Restore error 5")},
        {0, ActionError::os_error("System Restore error 0")},
        {1057, ActionError::os_error("System Restore error 1057")},
        {4294967295u, ActionError::os_error("System Restore error 4294967295")},
    };
    for (const Case& c : cases) {
        FakeSystemRestore restore;
        restore.answers.push_back({false, {c.status, 99}});

        const auto result = create_restore_point(restore);

        ASSERT_FALSE(result) << c.status;
        EXPECT_EQ(result.error(), c.error);
        EXPECT_EQ(restore.calls.size(), 1u);
    }
}

TEST(CreateRestorePoint, UnavailableSystemRestoreIsNotSupported) {
    FakeSystemRestore restore;
    restore.answers.push_back({std::unexpected(ActionError::not_supported()), {}});

    const auto result = create_restore_point(restore);

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), ActionError::not_supported());
    EXPECT_EQ(restore.calls.size(), 1u);
}

} // namespace
} // namespace vemlox
