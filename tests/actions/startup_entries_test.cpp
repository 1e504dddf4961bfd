#include "actions/startup_entries.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vemlox {
namespace {

// The machine's Run key as a set of names, and every approval value written.
class FakeStartupRegistry : public StartupRegistry {
  public:
    std::set<std::string, std::less<>> run_entries;
    std::uint64_t clock = 0;
    std::optional<ActionError> write_error;

    std::vector<std::string> looked_up;
    std::vector<std::pair<std::string, ApprovalValue>> written;

    bool run_entry_exists(std::string_view name) override {
        looked_up.emplace_back(name);
        return run_entries.contains(name);
    }
    ActionResult<void> write_approval(std::string_view name, const ApprovalValue& value) override {
        if (write_error) {
            return std::unexpected(*write_error);
        }
        written.emplace_back(name, value);
        return {};
    }
    std::uint64_t now_filetime() override { return clock; }
};

// 2026-12-08 03:01:58 UTC as a FILETIME.
constexpr std::uint64_t SOME_TIME = 0x01DD86C07D91FF70;

TEST(ApprovalValue, HoldsTheStateByteAndForDisabledTheLittleEndianTime) {
    struct Case {
        bool enabled;
        std::uint64_t now;
        ApprovalValue bytes;
    };
    const Case cases[] = {
        {true, SOME_TIME, {0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {false, SOME_TIME, {0x03, 0, 0, 0, 0x70, 0xFF, 0x91, 0x7D, 0xC0, 0x86, 0xDD, 0x01}},
        {false,
         0xFFFFFFFFFFFFFFFF,
         {0x03, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        // 116444736000000000 = 0x019DB1DED53E8000: 1970-01-01, the earliest time written.
        {false,
         116444736000000000,
         {0x03, 0, 0, 0, 0x00, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01}},
        {false,
         116444735999999999,
         {0x03, 0, 0, 0, 0x00, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01}},
        {false, 0, {0x03, 0, 0, 0, 0x00, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(approval_value(c.enabled, c.now), c.bytes) << c.enabled << " " << c.now;
    }
}

TEST(SetMachineStartup, DisablingWritesTheCurrentTimeUnderTheNameAsGiven) {
    FakeStartupRegistry registry;
    registry.run_entries = {"Updater"};
    registry.clock = SOME_TIME;

    ASSERT_TRUE(set_machine_startup(registry, "Updater", false));

    ASSERT_EQ(registry.written.size(), 1u);
    EXPECT_EQ(registry.written[0].first, "Updater");
    EXPECT_EQ(registry.written[0].second, approval_value(false, SOME_TIME));
}

TEST(SetMachineStartup, EnablingWritesNoTime) {
    FakeStartupRegistry registry;
    registry.run_entries = {"Updater"};
    registry.clock = SOME_TIME;

    ASSERT_TRUE(set_machine_startup(registry, "Updater", true));

    ASSERT_EQ(registry.written.size(), 1u);
    EXPECT_EQ(registry.written[0].second, (ApprovalValue{0x02}));
}

TEST(SetMachineStartup, SameStateTwiceWritesTwiceWithANewTime) {
    FakeStartupRegistry registry;
    registry.run_entries = {"Updater"};
    registry.clock = SOME_TIME;
    ASSERT_TRUE(set_machine_startup(registry, "Updater", false));
    registry.clock = SOME_TIME + 10'000'000;
    ASSERT_TRUE(set_machine_startup(registry, "Updater", false));

    ASSERT_EQ(registry.written.size(), 2u);
    EXPECT_EQ(registry.written[1].second, approval_value(false, SOME_TIME + 10'000'000));
}

TEST(SetMachineStartup, MissingRunEntryIsNotFoundAndWritesNothing) {
    FakeStartupRegistry registry;
    registry.run_entries = {"Updater"};

    const auto result = set_machine_startup(registry, "Helper App", false);

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), ActionError::item_not_found("Helper App"));
    EXPECT_EQ(registry.looked_up, std::vector<std::string>{"Helper App"});
    EXPECT_TRUE(registry.written.empty());
}

TEST(SetMachineStartup, WriteFailureIsReturned) {
    FakeStartupRegistry registry;
    registry.run_entries = {"Updater"};
    registry.write_error = ActionError::os_error("Access denied. (os error 5)");

    const auto result = set_machine_startup(registry, "Updater", true);

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), ActionError::os_error("Access denied. (os error 5)"));
}

} // namespace
} // namespace vemlox
