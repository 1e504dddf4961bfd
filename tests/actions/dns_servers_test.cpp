#include "actions/dns_servers.hpp"
#include "actions/fake_program_runner.hpp"
#include "actions/network_adapters.hpp"
#include "protocol/ipv4.hpp"
#include "protocol/printers.hpp"

#include <gtest/gtest.h>

namespace vemlox {

inline void PrintTo(const Ipv4Address& address, std::ostream* os) {
    *os << format_ipv4(address);
}

namespace {

using Environment = std::vector<std::pair<std::string, std::string>>;
using Servers = std::vector<Ipv4Address>;

const std::string PHYSICAL(PHYSICAL_ADAPTERS_SCRIPT);
const std::string CONNECTED(CONNECTED_ADAPTERS_SCRIPT);
const std::string READ(READ_DNS_SCRIPT);
const std::string SET(SET_DNS_SCRIPT);

Ipv4Address ip(std::string_view text) {
    const auto address = parse_ipv4(text);
    EXPECT_TRUE(address) << text;
    return address.value_or(Ipv4Address{});
}

Environment read_env(const std::string& adapter) {
    return {{"VLX_ADAPTER", adapter}};
}
Environment set_env(const std::string& adapter, const std::string& servers) {
    return {{"VLX_ADAPTER", adapter}, {"VLX_DNS", servers}};
}

TEST(DnsScripts, HaveTheirExactLengthsAndTheFixedPublicServers) {
    EXPECT_EQ(READ_DNS_SCRIPT.size(), 238u);
    EXPECT_EQ(SET_DNS_SCRIPT.size(), 251u);
    EXPECT_EQ(READ_DNS_SCRIPT.find('"'), std::string_view::npos);
    EXPECT_EQ(SET_DNS_SCRIPT.find('"'), std::string_view::npos);
    EXPECT_EQ(Servers(PUBLIC_DNS_SERVERS.begin(), PUBLIC_DNS_SERVERS.end()),
              (Servers{ip("1.1.1.1"), ip("8.8.8.8")}));
}

TEST(ParseNameServers, KeepsTheAddressesBetweenCommasSpacesAndLineBreaks) {
    struct Case {
        std::string output;
        std::vector<std::string> servers;
    };
    const Case cases[] = {
        {"1.1.1.1,8.8.8.8", {"1.1.1.1", "8.8.8.8"}},
        {"1.1.1.1 8.8.8.8\r\n", {"1.1.1.1", "8.8.8.8"}},
        {"9.9.9.9\n\n149.112.112.112\r", {"9.9.9.9", "149.112.112.112"}},
        {"fe80::1,9.9.9.9", {"9.9.9.9"}},
        {"2606:4700:4700::1111 1.0.0.1", {"1.0.0.1"}},
        {"1.1.1.1,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5,6.6.6.6",
         {"1.1.1.1", "2.2.2.2", "3.3.3.3", "4.4.4.4"}},
        // Only addresses count towards the four.
        {"x,,1.1.1.1,y,2.2.2.2 3.3.3.3 z 4.4.4.4 5.5.5.5",
         {"1.1.1.1", "2.2.2.2", "3.3.3.3", "4.4.4.4"}},
        // A tab does not cut, but it is trimmed from the ends of a piece.
        {"1.1.1.1\t8.8.8.8", {}},
        {"\t1.1.1.1\t,\t8.8.8.8", {"1.1.1.1", "8.8.8.8"}},
        // Unicode white space is trimmed too, and does not cut.
        {"\xC2\xA0"
         "1.1.1.1\xE3\x80\x80,8.8.8.8",
         {"1.1.1.1", "8.8.8.8"}},
        {"1.1.1.1\xC2\xA0"
         "8.8.8.8",
         {}},
        {"", {}},
        {"\r\n", {}},
        {"01.1.1.1,1.1.1,1.1.1.1.1,256.1.1.1,1.1.1.1x", {}},
        {"\xff"
         "1.1.1.1,\xC3,2.2.2.2",
         {"2.2.2.2"}},
    };
    for (const Case& c : cases) {
        Servers expected;
        for (const std::string& server : c.servers) {
            expected.push_back(ip(server));
        }
        EXPECT_EQ(parse_name_servers(c.output), expected) << c.output;
    }
}

TEST(ReadAdapterDns, RunsTheReadScriptWithTheAdapterName) {
    FakeProgramRunner runner;
    runner.answer(0, "192.168.1.1,fe80::1\r\n");

    const auto servers = read_adapter_dns(runner, "Ethernet 2");

    ASSERT_TRUE(servers);
    EXPECT_EQ(*servers, Servers{ip("192.168.1.1")});
    ASSERT_EQ(runner.scripts(), std::vector<std::string>{READ});
    EXPECT_EQ(runner.runs[0].environment, read_env("Ethernet 2"));
}

TEST(ReadAdapterDns, InvalidNameRunsNothingAndFailureIsReturned) {
    FakeProgramRunner runner;
    auto result = read_adapter_dns(runner, "Ether\\net");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), ActionError::os_error("invalid adapter name"));
    EXPECT_TRUE(runner.runs.empty());

    runner.answer(1, "", "Get-NetAdapter : No MSFT_NetAdapter objects found\r\n");
    result = read_adapter_dns(runner, "Gone");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(),
              ActionError::os_error("Get-NetAdapter : No MSFT_NetAdapter objects found"));
}

TEST(SetAdapterDns, PassesTheServersJoinedByCommasAndAnEmptyListAsEmptyText) {
    struct Case {
        Servers servers;
        std::string joined;
    };
    const Case cases[] = {
        {{ip("1.1.1.1"), ip("8.8.8.8")}, "1.1.1.1,8.8.8.8"},
        {{ip("10.0.0.53")}, "10.0.0.53"},
        {{ip("0.1.2.3"), ip("255.0.10.100"), ip("9.9.9.9"), ip("1.0.0.1")},
         "0.1.2.3,255.0.10.100,9.9.9.9,1.0.0.1"},
        {{}, ""},
    };
    for (const Case& c : cases) {
        FakeProgramRunner runner;
        runner.answer(0, "ignored");

        ASSERT_TRUE(set_adapter_dns(runner, "Wi-Fi", c.servers)) << c.joined;

        ASSERT_EQ(runner.scripts(), std::vector<std::string>{SET});
        EXPECT_EQ(runner.runs[0].environment, set_env("Wi-Fi", c.joined));
    }
}

TEST(SetAdapterDns, InvalidNameRunsNothingAndFailureIsReturned) {
    FakeProgramRunner runner;
    auto result = set_adapter_dns(runner, "\"Wi-Fi\"", PUBLIC_DNS_SERVERS);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), ActionError::os_error("invalid adapter name"));
    EXPECT_TRUE(runner.runs.empty());

    runner.answer(1, "", "Set-DnsClientServerAddress : denied");
    result = set_adapter_dns(runner, "Wi-Fi", PUBLIC_DNS_SERVERS);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), ActionError::os_error("Set-DnsClientServerAddress : denied"));
}

TEST(UsePublicDns, SwitchesEachConnectedAdapterNotAlreadyOnThePublicServersInOrder) {
    FakeProgramRunner runner;
    runner.answer(0, R"(["On public","Reversed","Automatic"])");
    runner.answer(0, "1.1.1.1,8.8.8.8\r\n"); // skipped: exactly the public list
    runner.answer(0, "8.8.8.8 1.1.1.1\r\n"); // the reverse order is switched
    runner.answer(0);
    runner.answer(0, ""); // automatic servers read as an empty list
    runner.answer(0);

    const auto replaced = use_public_dns(runner);

    ASSERT_TRUE(replaced);
    EXPECT_EQ(*replaced, (std::vector<DnsSetting>{{"Reversed", {ip("8.8.8.8"), ip("1.1.1.1")}},
                                                  {"Automatic", {}}}));
    ASSERT_EQ(runner.scripts(), (std::vector<std::string>{CONNECTED, READ, READ, SET, READ, SET}));
    EXPECT_EQ(runner.runs[1].environment, read_env("On public"));
    EXPECT_EQ(runner.runs[2].environment, read_env("Reversed"));
    EXPECT_EQ(runner.runs[3].environment, set_env("Reversed", "1.1.1.1,8.8.8.8"));
    EXPECT_EQ(runner.runs[4].environment, read_env("Automatic"));
    EXPECT_EQ(runner.runs[5].environment, set_env("Automatic", "1.1.1.1,8.8.8.8"));
}

TEST(UsePublicDns, OnlyAdapterAlreadyOnThePublicServersOrNoneChangesNothing) {
    for (const std::string listing : {"[]", R"(["A"])"}) {
        FakeProgramRunner runner;
        runner.answer(0, listing);
        runner.answer(0, "1.1.1.1 8.8.8.8");

        const auto replaced = use_public_dns(runner);

        ASSERT_TRUE(replaced) << listing;
        EXPECT_TRUE(replaced->empty());
        for (const std::string& script : runner.scripts()) {
            EXPECT_NE(script, SET);
        }
    }
}

TEST(UsePublicDns, FailedSetPutsBackTheAdaptersAlreadySwitchedAndReturnsItsError) {
    FakeProgramRunner runner;
    runner.answer(0, R"(["A","B","C"])");
    runner.answer(0, "9.9.9.9,149.112.112.112");
    runner.answer(0);
    runner.answer(0, "");
    runner.answer(0);
    runner.answer(0, "10.0.0.1");
    runner.answer(1, "", "  boom\r\n");
    // The undo: the physical listing, then A and B back to what they had.
    runner.answer(0, R"([{"name":"A","disabled":false},{"name":"B","disabled":false},)"
                     R"({"name":"C","disabled":false}])");
    runner.answer(0);
    runner.answer(0);

    const auto replaced = use_public_dns(runner);

    ASSERT_FALSE(replaced);
    EXPECT_EQ(replaced.error(), ActionError::os_error("boom"));
    ASSERT_EQ(runner.scripts(), (std::vector<std::string>{CONNECTED, READ, SET, READ, SET, READ,
                                                          SET, PHYSICAL, SET, SET}));
    EXPECT_EQ(runner.runs[6].environment, set_env("C", "1.1.1.1,8.8.8.8"));
    EXPECT_EQ(runner.runs[8].environment, set_env("A", "9.9.9.9,149.112.112.112"));
    EXPECT_EQ(runner.runs[9].environment, set_env("B", ""));
    EXPECT_TRUE(runner.answers.empty());
}

TEST(UsePublicDns, FailedUndoIsNotReportedOverTheSetError) {
    FakeProgramRunner runner;
    runner.answer(0, R"(["A","B"])");
    runner.answer(0, "9.9.9.9");
    runner.answer(0);
    runner.answer(0, "");
    runner.answer(1, "", "set failed");
    runner.answer(1, "", "listing failed");

    const auto replaced = use_public_dns(runner);

    ASSERT_FALSE(replaced);
    EXPECT_EQ(replaced.error(), ActionError::os_error("set failed"));
    ASSERT_EQ(runner.scripts(),
              (std::vector<std::string>{CONNECTED, READ, SET, READ, SET, PHYSICAL}));
}

TEST(UsePublicDns, FirstSetFailingUndoesNothingButTheEmptyListing) {
    FakeProgramRunner runner;
    runner.answer(0, R"(["A"])");
    runner.answer(0, "");
    runner.answer(1, "", "set failed");
    runner.answer(0, R"([{"name":"A","disabled":false}])");

    const auto replaced = use_public_dns(runner);

    ASSERT_FALSE(replaced);
    EXPECT_EQ(replaced.error(), ActionError::os_error("set failed"));
    ASSERT_EQ(runner.scripts(), (std::vector<std::string>{CONNECTED, READ, SET, PHYSICAL}));
}

TEST(UsePublicDns, FailedReadStopsWithoutPuttingAnythingBack) {
    FakeProgramRunner runner;
    runner.answer(0, R"(["A","B","C"])");
    runner.answer(0, "");
    runner.answer(0);
    runner.answer(1, "", "read failed");

    const auto replaced = use_public_dns(runner);

    ASSERT_FALSE(replaced);
    EXPECT_EQ(replaced.error(), ActionError::os_error("read failed"));
    ASSERT_EQ(runner.scripts(), (std::vector<std::string>{CONNECTED, READ, SET, READ}));
}

TEST(UsePublicDns, ConnectedNameBreakingTheNameRuleFailsWhenItsServersAreRead) {
    FakeProgramRunner runner;
    runner.answer(0, R"(["A","B?","C"])");
    runner.answer(0, "");
    runner.answer(0);

    const auto replaced = use_public_dns(runner);

    ASSERT_FALSE(replaced);
    EXPECT_EQ(replaced.error(), ActionError::os_error("invalid adapter name"));
    ASSERT_EQ(runner.scripts(), (std::vector<std::string>{CONNECTED, READ, SET}));
}

TEST(UsePublicDns, ListingFaultIsReturned) {
    FakeProgramRunner runner;
    runner.answer(0, "[\"A\",]");

    const auto replaced = use_public_dns(runner);

    ASSERT_FALSE(replaced);
    EXPECT_EQ(replaced.error().kind(), ActionError::Kind::OsError);
    EXPECT_EQ(runner.runs.size(), 1u);
}

const std::string TWO_PHYSICAL =
    R"([{"name":"Ethernet","disabled":false},{"name":"Wi-Fi","disabled":true}])";

TEST(RestoreDns, SetsEverySettingInOrder) {
    FakeProgramRunner runner;
    runner.answer(0, TWO_PHYSICAL);
    runner.answer(0);
    runner.answer(0);
    const std::vector<DnsSetting> settings{{"Wi-Fi", {}},
                                           {"Ethernet", {ip("192.168.0.1"), ip("8.8.4.4")}}};

    ASSERT_TRUE(restore_dns(runner, settings));

    ASSERT_EQ(runner.scripts(), (std::vector<std::string>{PHYSICAL, SET, SET}));
    EXPECT_EQ(runner.runs[1].environment, set_env("Wi-Fi", ""));
    EXPECT_EQ(runner.runs[2].environment, set_env("Ethernet", "192.168.0.1,8.8.4.4"));
}

TEST(RestoreDns, EmptySettingsStillRunTheListing) {
    FakeProgramRunner runner;
    runner.answer(0, "[]");

    ASSERT_TRUE(restore_dns(runner, {}));

    ASSERT_EQ(runner.scripts(), std::vector<std::string>{PHYSICAL});
}

TEST(RestoreDns, UnknownAdapterChangesNothing) {
    for (const std::string missing : {"Gone", "ethernet", "Wi-Fi "}) {
        FakeProgramRunner runner;
        runner.answer(0, TWO_PHYSICAL);
        const std::vector<DnsSetting> settings{{"Ethernet", {}}, {missing, {ip("1.2.3.4")}}};

        const auto result = restore_dns(runner, settings);

        ASSERT_FALSE(result) << missing;
        EXPECT_EQ(result.error(), ActionError::item_not_found(missing));
        ASSERT_EQ(runner.scripts(), std::vector<std::string>{PHYSICAL});
    }
}

TEST(RestoreDns, StopsAtTheFirstFailure) {
    FakeProgramRunner runner;
    runner.answer(0, TWO_PHYSICAL);
    runner.answer(1, "", "denied");
    const std::vector<DnsSetting> settings{{"Ethernet", {}}, {"Wi-Fi", {}}};

    const auto result = restore_dns(runner, settings);

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), ActionError::os_error("denied"));
    ASSERT_EQ(runner.scripts(), (std::vector<std::string>{PHYSICAL, SET}));
}

} // namespace
} // namespace vemlox
