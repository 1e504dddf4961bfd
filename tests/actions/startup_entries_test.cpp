#include "actions/startup_entries.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vemlox {
namespace {

// The machine's Run key as a set of names, and every approval value written or attempted.
class FakeStartupRegistry : public StartupRegistry {
  public:
    std::set<std::string, std::less<>> run_entries;
    std::optional<ActionError> write_error;

    std::vector<std::string> looked_up;
    std::vector<std::pair<std::string, ApprovalValue>> written;

    bool run_entry_exists(std::string_view name) override {
        looked_up.emplace_back(name);
        return run_entries.contains(name);
    }
    ActionResult<void> write_approval(std::string_view name, const ApprovalValue& value) override {
        written.emplace_back(name, value);
        if (write_error) {
            return std::unexpected(*write_error);
        }
        return {};
    }
};

class FakeClock : public Clock {
  public:
    std::uint64_t now = 0;

    std::uint64_t now_filetime() override { return now; }
};

// 2026-12-08 03:01:58 UTC as a FILETIME.
constexpr std::uint64_t SOME_TIME = 0x01DD86C07D91FF70;

TEST(ApprovalValue, HoldsTheStateByteAndForDisabledTheLittleEndianTime) {
    struct Case {
        bool enabled;
        std::uint64_t now;
        ApprovalValue bytes;
    };
    // 116444736000000000 = 0x019DB1DED53E8000: 1970-01-01, the earliest time written.
    const ApprovalValue at_1970{0x03, 0, 0, 0, 0x00, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01};
    const Case cases[] = {
        {true, SOME_TIME, {0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {false, SOME_TIME, {0x03, 0, 0, 0, 0x70, 0xFF, 0x91, 0x7D, 0xC0, 0x86, 0xDD, 0x01}},
        {false,
         0xFFFFFFFFFFFFFFFF,
         {0x03, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {false, 116444736000000000, at_1970},
        {false, 116444735999999999, at_1970},
        {false, 0, at_1970},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(approval_value(c.enabled, c.now), c.bytes) << c.enabled << " " << c.now;
    }
}

TEST(SetMachineStartup, WritesTheApprovalValueUnderTheNameAsGivenWithTheTimeOfEachCall) {
    FakeStartupRegistry registry;
    registry.run_entries = {"Updater"};
    FakeClock clock;
    clock.now = SOME_TIME;
    ASSERT_TRUE(perform(request::SetMachineStartup{"Updater", true}, registry, clock));
    ASSERT_TRUE(perform(request::SetMachineStartup{"Updater", false}, registry, clock));
    clock.now = SOME_TIME + 10'000'000;
    ASSERT_TRUE(perform(request::SetMachineStartup{"Updater", false}, registry, clock));

    EXPECT_EQ(registry.written,
              (std::vector<std::pair<std::string, ApprovalValue>>{
                  {"Updater", {0x02}},
                  {"Updater", {0x03, 0, 0, 0, 0x70, 0xFF, 0x91, 0x7D, 0xC0, 0x86, 0xDD, 0x01}},
                  {"Updater", {0x03, 0, 0, 0, 0xF0, 0x95, 0x2A, 0x7E, 0xC0, 0x86, 0xDD, 0x01}}}));
}

// Only programs the machine already starts may be switched.
TEST(SetMachineStartup, MissingRunEntryIsNotFoundAndWritesNothingAndWriteFailureIsReturned) {
    FakeStartupRegistry registry;
    registry.run_entries = {"Updater"};
    registry.write_error = ActionError::os_error("Access denied. (os error 5)");
    FakeClock clock;

    const auto missing = perform(request::SetMachineStartup{"Helper App", false}, registry, clock);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), ActionError::item_not_found("Helper App"));
    EXPECT_EQ(registry.looked_up, std::vector<std::string>{"Helper App"});
    EXPECT_TRUE(registry.written.empty());

    const auto denied = perform(request::SetMachineStartup{"Updater", true}, registry, clock);
    ASSERT_FALSE(denied);
    EXPECT_EQ(denied.error(), ActionError::os_error("Access denied. (os error 5)"));
}

} // namespace
} // namespace vemlox
