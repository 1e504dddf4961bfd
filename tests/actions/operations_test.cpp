#include "actions/fake_program_runner.hpp"
#include "actions/network_adapters.hpp"
#include "actions/operations.hpp"

#include <gtest/gtest.h>

namespace vemlox {
namespace {

class RecordingRegistry : public StartupRegistry {
  public:
    std::vector<std::string> written;
    bool run_entry_exists(std::string_view) override { return true; }
    ActionResult<void> write_approval(std::string_view name, const ApprovalValue&) override {
        written.emplace_back(name);
        return {};
    }
    std::uint64_t now_filetime() override { return 0; }
};

class RecordingRestore : public SystemRestore {
  public:
    int calls = 0;
    ActionResult<bool> set_restore_point(const RestorePointInfo&, StateManagerStatus&) override {
        ++calls;
        return true;
    }
};

// Each operation reaches the machine through the interface it belongs to, and only that one.
TEST(MachineOperations, EachOperationUsesItsOwnInterface) {
    FakeProgramRunner runner;
    RecordingRegistry registry;
    RecordingRestore restore;
    MachineOperations operations(runner, registry, restore);

    ASSERT_TRUE(operations.set_machine_startup("Updater", true));
    EXPECT_EQ(registry.written, std::vector<std::string>{"Updater"});
    ASSERT_TRUE(operations.create_restore_point());
    EXPECT_EQ(restore.calls, 2);
    EXPECT_TRUE(runner.runs.empty());

    runner.answer(1);
    ASSERT_TRUE(operations.renew_ip());
    runner.answer(0, R"([{"name":"A","disabled":true}])");
    runner.answer(0);
    EXPECT_EQ(operations.enable_adapters().value_or(std::vector<std::string>{}),
              std::vector<std::string>{"A"});
    runner.answer(0, R"([{"name":"A","disabled":false}])");
    runner.answer(0);
    const std::vector<std::string> names{"A"};
    ASSERT_TRUE(operations.disable_adapters(names));
    runner.answer(0, "[]");
    ASSERT_TRUE(operations.use_public_dns());
    runner.answer(0, "[]");
    ASSERT_TRUE(operations.restore_dns({}));

    const std::vector<std::string> programs{"ipconfig.exe",   "powershell.exe", "powershell.exe",
                                            "powershell.exe", "powershell.exe", "powershell.exe",
                                            "powershell.exe"};
    ASSERT_EQ(runner.runs.size(), programs.size());
    for (std::size_t i = 0; i < programs.size(); ++i) {
        EXPECT_EQ(runner.runs[i].program, programs[i]) << i;
    }
    EXPECT_EQ(runner.runs[5].script(), CONNECTED_ADAPTERS_SCRIPT);
    EXPECT_EQ(runner.runs[6].script(), PHYSICAL_ADAPTERS_SCRIPT);
}

} // namespace
} // namespace vemlox
