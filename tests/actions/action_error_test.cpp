#include "actions/action_error.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vemlox {
namespace {

struct ErrorCase {
    ActionError error;
    ActionError::Kind kind;
    std::string shown;
    FailureKind failure_kind;
};

TEST(ActionError, ShowsFixedWordsAndPayloadAndMapsToResponseKind) {
    const std::vector<ErrorCase> cases = {
        {ActionError::item_not_found("Ethernet 2"), ActionError::Kind::ItemNotFound,
         "item not found: Ethernet 2", FailureKind::NotFound},
        {ActionError::item_not_found(""), ActionError::Kind::ItemNotFound,
         "item not found: ", FailureKind::NotFound},
        {ActionError::not_supported(), ActionError::Kind::NotSupported,
         "not supported on this platform", FailureKind::Failed},
        {ActionError::os_error(""), ActionError::Kind::OsError, "os error: ", FailureKind::Failed},
        {ActionError::os_error("System Restore error 5"), ActionError::Kind::OsError,
         "os error: System Restore error 5", FailureKind::Failed},
        // A payload that looks like a missing item still fails as an OS error: only the kind
        // counts.
        {ActionError::os_error("item not found: x"), ActionError::Kind::OsError,
         "os error: item not found: x", FailureKind::Failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(c.error.kind(), c.kind);
        EXPECT_EQ(c.error.shown_text(), c.shown);
        EXPECT_EQ(c.error.failure_kind(), c.failure_kind);
    }
    EXPECT_EQ(ActionError::not_supported().shown_text().size(), 30u);
}

TEST(ActionError, KeepsPayloadUnchanged) {
    const std::string odd = "a \"quoted\"\tname\n\xC3\xA9";
    EXPECT_EQ(ActionError::item_not_found(odd).payload(), odd);
    EXPECT_EQ(ActionError::os_error(odd).shown_text(), "os error: " + odd);
    EXPECT_EQ(ActionError::not_supported().payload(), "");
}

TEST(ActionError, EqualityComparesKindAndPayload) {
    EXPECT_EQ(ActionError::os_error("x"), ActionError::os_error("x"));
    EXPECT_NE(ActionError::os_error("x"), ActionError::os_error("y"));
    EXPECT_NE(ActionError::os_error("x"), ActionError::item_not_found("x"));
}

} // namespace
} // namespace vemlox
