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
    friend bool operator==(const Call&, const Call&) = default;
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

TEST(CreateRestorePoint, BeginsAndEndsTheChangeWithTheSequenceNumberReturned) {
    // The closing call only ends the change window: its failure is not reported.
    for (const bool closing_succeeds : {true, false}) {
        SCOPED_TRACE(closing_succeeds);
        FakeSystemRestore restore;
        restore.answers = {{true, {0, 0x1234'5678'9ABC}}, {closing_succeeds, {5, 0}}};

        EXPECT_TRUE(perform(request::CreateRestorePoint{}, restore));

        std::u16string description(u"Vemlox: before fixes");
        description.resize(256, u'\0');
        EXPECT_EQ(restore.calls, (std::vector<Call>{{100, 12, 0, description, 0, 0},
                                                    {101, 12, 0x1234'5678'9ABC, description, 0,
                                                     0x1234'5678'9ABC}}));
    }
}

TEST(CreateRestorePoint, FailedFirstCallMapsItsStatusAndMakesNoSecondCall) {
    struct Case {
        ActionResult<bool> result;
        std::uint32_t status;
        ActionError error;
    };
    const Case cases[] = {
        {false, 1058, ActionError::not_supported()},
        {false, 5, ActionError::os_error("System Restore error 5")},
        {false, 0, ActionError::os_error("System Restore error 0")},
        {false, 1057, ActionError::os_error("System Restore error 1057")},
        {false, 4294967295u, ActionError::os_error("System Restore error 4294967295")},
        // System Restore not available on this machine at all.
        {std::unexpected(ActionError::not_supported()), 0, ActionError::not_supported()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error.message());
        FakeSystemRestore restore;
        restore.answers = {{c.result, {c.status, 99}}};

        const auto result = perform(request::CreateRestorePoint{}, restore);

        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), c.error);
        EXPECT_EQ(restore.calls.size(), 1u);
    }
}

} // namespace
} // namespace vemlox
