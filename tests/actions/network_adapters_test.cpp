#include "actions/adapter_listing.hpp"
#include "actions/fake_program_runner.hpp"
#include "actions/network_adapters.hpp"

#include <gtest/gtest.h>

namespace vemlox {
namespace {

using Environment = std::vector<std::pair<std::string, std::string>>;

const std::string PHYSICAL(PHYSICAL_ADAPTERS_SCRIPT);
const std::string CONNECTED(CONNECTED_ADAPTERS_SCRIPT);
const std::string ENABLE(ENABLE_ADAPTER_SCRIPT);
const std::string DISABLE(DISABLE_ADAPTER_SCRIPT);

Environment adapter_env(const std::string& name) {
    return {{"VLX_ADAPTER", name}};
}

TEST(AdapterScripts, HaveTheirExactLengths) {
    EXPECT_EQ(PHYSICAL_ADAPTERS_SCRIPT.size(), 189u);
    EXPECT_EQ(CONNECTED_ADAPTERS_SCRIPT.size(), 281u);
    EXPECT_EQ(ENABLE_ADAPTER_SCRIPT.size(), 74u);
    EXPECT_EQ(DISABLE_ADAPTER_SCRIPT.size(), 75u);
    // The scripts travel as one quoted argument and read request values only from the
    // environment, so none may hold a double quote.
    for (const std::string_view script : {PHYSICAL_ADAPTERS_SCRIPT, CONNECTED_ADAPTERS_SCRIPT,
                                          ENABLE_ADAPTER_SCRIPT, DISABLE_ADAPTER_SCRIPT}) {
        EXPECT_EQ(script.find('"'), std::string_view::npos) << script;
    }
}

TEST(ListPhysicalAdapters, DecodesTheRowsInListedOrderWithMembersInAnyOrder) {
    FakeProgramRunner runner;
    runner.answer(0, "[{\"disabled\":false,\"name\":\"Wi-Fi\"},"
                     "{\"name\":\"Ethernet 2\",\"disabled\":true,\"extra\":1}]\r\n");

    const auto rows = list_physical_adapters(runner);

    ASSERT_TRUE(rows);
    EXPECT_EQ(*rows, (std::vector<Row>{{"Wi-Fi", false}, {"Ethernet 2", true}}));
    ASSERT_EQ(runner.runs.size(), 1u);
    EXPECT_EQ(runner.runs[0].script(), PHYSICAL);
    EXPECT_TRUE(runner.runs[0].environment.empty());
}

TEST(ListPhysicalAdapters, OutputThatIsNotAnArrayOfRowsFailsWithTheReaderText) {
    const std::string outputs[] = {
        "",
        "{\"name\":\"a\",\"disabled\":true}",
        "[{\"name\":\"a\"}]",
        "[{\"name\":\"a\",\"disabled\":true,\"name\":\"b\"}]",
        "[{\"name\":1,\"disabled\":true}]",
        "[1]",
        "[] []",
        "[{\"name\":\"\xff\",\"disabled\":true}]",
    };
    for (const std::string& output : outputs) {
        FakeProgramRunner runner;
        runner.answer(0, output);

        const auto rows = list_physical_adapters(runner);

        ASSERT_FALSE(rows) << output;
        const auto expected = decode_rows(output);
        ASSERT_FALSE(expected) << output;
        EXPECT_EQ(rows.error(), ActionError::os_error(expected.error())) << output;
    }
}

TEST(ListPhysicalAdapters, ScriptFailureIsReturned) {
    FakeProgramRunner runner;
    runner.answer(1, "", "Get-NetAdapter : boom\r\n");

    const auto rows = list_physical_adapters(runner);

    ASSERT_FALSE(rows);
    EXPECT_EQ(rows.error(), ActionError::os_error("Get-NetAdapter : boom"));
}

TEST(ListConnectedAdapters, DecodesTheNames) {
    FakeProgramRunner runner;
    runner.answer(0, " [\"Ethernet\",\"Wi-Fi 2\"] ");

    const auto names = list_connected_adapters(runner);

    ASSERT_TRUE(names);
    EXPECT_EQ(*names, (std::vector<std::string>{"Ethernet", "Wi-Fi 2"}));
    ASSERT_EQ(runner.scripts(), std::vector<std::string>{CONNECTED});
    EXPECT_TRUE(runner.runs[0].environment.empty());
}

TEST(ListConnectedAdapters, OutputThatIsNotAnArrayOfNamesFailsWithTheReaderText) {
    for (const std::string output : {"", "\"Ethernet\"", "[\"a\",1]", "[\"a\"", "null"}) {
        FakeProgramRunner runner;
        runner.answer(0, output);

        const auto names = list_connected_adapters(runner);

        ASSERT_FALSE(names) << output;
        const auto expected = decode_names(output);
        ASSERT_FALSE(expected) << output;
        EXPECT_EQ(names.error(), ActionError::os_error(expected.error())) << output;
    }
}

TEST(SetAdapterEnabled, RunsTheEnableOrDisableScriptWithTheNameInTheEnvironment) {
    FakeProgramRunner runner;
    runner.answer(0, "ignored output");
    runner.answer(0);

    ASSERT_TRUE(set_adapter_enabled(runner, "Ethernet 2", true));
    ASSERT_TRUE(set_adapter_enabled(runner, "Wi-Fi", false));

    ASSERT_EQ(runner.scripts(), (std::vector<std::string>{ENABLE, DISABLE}));
    EXPECT_EQ(runner.runs[0].environment, adapter_env("Ethernet 2"));
    EXPECT_EQ(runner.runs[1].environment, adapter_env("Wi-Fi"));
}

TEST(SetAdapterEnabled, InvalidNameRunsNothing) {
    const std::string names[] = {"", "Ether*", "a'b", "a$b", "a\nb", "a\\b"};
    for (const std::string& name : names) {
        FakeProgramRunner runner;

        const auto result = set_adapter_enabled(runner, name, true);

        ASSERT_FALSE(result) << name;
        EXPECT_EQ(result.error(), ActionError::os_error("invalid adapter name"));
        EXPECT_TRUE(runner.runs.empty());
    }
}

TEST(SetAdapterEnabled, ScriptFailureIsReturned) {
    FakeProgramRunner runner;
    runner.answer(1, "", "No MSFT_NetAdapter objects found\r\n");

    const auto result = set_adapter_enabled(runner, "Ethernet", false);

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), ActionError::os_error("No MSFT_NetAdapter objects found"));
}

TEST(EnableAdapters, SwitchesOnOnlyTheDisabledAdaptersInListOrder) {
    FakeProgramRunner runner;
    runner.answer(0, R"([{"name":"C","disabled":true},{"name":"A","disabled":false},)"
                     R"({"name":"B","disabled":true}])");
    runner.answer(0);
    runner.answer(0);

    const auto enabled = enable_adapters(runner);

    ASSERT_TRUE(enabled);
    EXPECT_EQ(*enabled, (std::vector<std::string>{"C", "B"}));
    ASSERT_EQ(runner.scripts(), (std::vector<std::string>{PHYSICAL, ENABLE, ENABLE}));
    EXPECT_EQ(runner.runs[1].environment, adapter_env("C"));
    EXPECT_EQ(runner.runs[2].environment, adapter_env("B"));
}

TEST(EnableAdapters, NoPhysicalAdapterRunsOnlyTheListing) {
    FakeProgramRunner runner;
    runner.answer(0, "[]");

    const auto enabled = enable_adapters(runner);

    ASSERT_TRUE(enabled);
    EXPECT_TRUE(enabled->empty());
    EXPECT_EQ(runner.runs.size(), 1u);
}

TEST(EnableAdapters, StopsAtTheFirstFailureLeavingEarlierAdaptersOn) {
    FakeProgramRunner runner;
    runner.answer(0, R"([{"name":"A","disabled":true},{"name":"B","disabled":true},)"
                     R"({"name":"C","disabled":true}])");
    runner.answer(0);
    runner.answer(1, "", "cannot enable B");

    const auto enabled = enable_adapters(runner);

    ASSERT_FALSE(enabled);
    EXPECT_EQ(enabled.error(), ActionError::os_error("cannot enable B"));
    ASSERT_EQ(runner.scripts(), (std::vector<std::string>{PHYSICAL, ENABLE, ENABLE}));
}

TEST(EnableAdapters, ListedNameBreakingTheNameRuleFailsWhenReached) {
    FakeProgramRunner runner;
    runner.answer(0, R"([{"name":"A","disabled":true},{"name":"B[1]","disabled":true},)"
                     R"({"name":"C","disabled":true}])");
    runner.answer(0);

    const auto enabled = enable_adapters(runner);

    ASSERT_FALSE(enabled);
    EXPECT_EQ(enabled.error(), ActionError::os_error("invalid adapter name"));
    ASSERT_EQ(runner.scripts(), (std::vector<std::string>{PHYSICAL, ENABLE}));
}

TEST(EnableAdapters, ListingFailureIsReturned) {
    FakeProgramRunner runner;
    runner.fail_to_run(ActionError::os_error("program not found"));

    const auto enabled = enable_adapters(runner);

    ASSERT_FALSE(enabled);
    EXPECT_EQ(enabled.error(), ActionError::os_error("program not found"));
}

const std::string THREE_ADAPTERS = R"([{"name":"Ethernet","disabled":false},)"
                                   R"({"name":"Wi-Fi","disabled":true},)"
                                   R"({"name":"Ethernet 2","disabled":false}])";

TEST(DisableAdapters, SwitchesOffTheNamesInRequestOrder) {
    FakeProgramRunner runner;
    runner.answer(0, THREE_ADAPTERS);
    runner.answer(0);
    runner.answer(0);
    runner.answer(0);
    // An adapter already off is switched off again; a name given twice is processed twice.
    const std::vector<std::string> names{"Ethernet 2", "Wi-Fi", "Ethernet 2"};

    ASSERT_TRUE(disable_adapters(runner, names));

    ASSERT_EQ(runner.scripts(), (std::vector<std::string>{PHYSICAL, DISABLE, DISABLE, DISABLE}));
    EXPECT_EQ(runner.runs[1].environment, adapter_env("Ethernet 2"));
    EXPECT_EQ(runner.runs[2].environment, adapter_env("Wi-Fi"));
    EXPECT_EQ(runner.runs[3].environment, adapter_env("Ethernet 2"));
}

TEST(DisableAdapters, UnknownNameChangesNothing) {
    struct Case {
        std::vector<std::string> names;
        std::string missing;
    };
    const Case cases[] = {
        {{"Ethernet", "Bluetooth"}, "Bluetooth"},
        {{"ETHERNET"}, "ETHERNET"},
        {{"Wi-Fi", "ethernet 2", "Nope"}, "ethernet 2"},
        {{"Ethernet "}, "Ethernet "},
    };
    for (const Case& c : cases) {
        FakeProgramRunner runner;
        runner.answer(0, THREE_ADAPTERS);

        const auto result = disable_adapters(runner, c.names);

        ASSERT_FALSE(result) << c.missing;
        EXPECT_EQ(result.error(), ActionError::item_not_found(c.missing));
        ASSERT_EQ(runner.scripts(), std::vector<std::string>{PHYSICAL}) << c.missing;
    }
}

TEST(DisableAdapters, NoNamesStillRunsTheListing) {
    FakeProgramRunner runner;
    runner.answer(0, THREE_ADAPTERS);

    ASSERT_TRUE(disable_adapters(runner, {}));

    ASSERT_EQ(runner.scripts(), std::vector<std::string>{PHYSICAL});
}

TEST(DisableAdapters, StopsAtTheFirstFailure) {
    FakeProgramRunner runner;
    runner.answer(0, THREE_ADAPTERS);
    runner.answer(0);
    runner.answer(1, "", "  access denied\r\n");
    const std::vector<std::string> names{"Ethernet", "Wi-Fi", "Ethernet 2"};

    const auto result = disable_adapters(runner, names);

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), ActionError::os_error("access denied"));
    ASSERT_EQ(runner.scripts(), (std::vector<std::string>{PHYSICAL, DISABLE, DISABLE}));
}

TEST(DisableAdapters, ListingFaultIsReturned) {
    FakeProgramRunner runner;
    runner.answer(0, "");
    const std::vector<std::string> names{"Ethernet"};

    const auto result = disable_adapters(runner, names);

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), ActionError::Kind::OsError);
    EXPECT_EQ(runner.runs.size(), 1u);
}

} // namespace
} // namespace vemlox
