#include "actions/dns_servers.hpp"
#include "actions/fake_program_runner.hpp"
#include "actions/network_adapters.hpp"
#include "protocol/ipv4.hpp"
#include "protocol/printers.hpp"

#include <gtest/gtest.h>

namespace vemlox {
namespace {

using Journal = std::vector<std::string>;
using Settings = std::vector<DnsSetting>;

Ipv4Address ip(std::string_view text) {
    return parse_ipv4(text).value();
}

TEST(ParseNameServers, KeepsTheAddressesBetweenCommasSpacesAndLineBreaks) {
    const std::pair<std::string, std::string> cases[] = {
        {"1.1.1.1 8.8.8.8\r\n", "1.1.1.1,8.8.8.8"},
        {"9.9.9.9\n\n149.112.112.112\r", "9.9.9.9,149.112.112.112"},
        {"fe80::1,9.9.9.9 2606:4700:4700::1111", "9.9.9.9"},
        // Only addresses count towards the four.
        {"x,,1.1.1.1,y,2.2.2.2 3.3.3.3 z 4.4.4.4 5.5.5.5", "1.1.1.1,2.2.2.2,3.3.3.3,4.4.4.4"},
        // A tab does not cut, but it is trimmed from the ends of a piece.
        {"1.1.1.1\t8.8.8.8", ""},
        {"\t1.1.1.1\t,\t8.8.8.8", "1.1.1.1,8.8.8.8"},
        // Unicode white space is trimmed too, and does not cut.
        {"\xC2\xA0"
         "1.1.1.1\xE3\x80\x80,8.8.8.8",
         "1.1.1.1,8.8.8.8"},
        {"1.1.1.1\xC2\xA0"
         "8.8.8.8",
         ""},
        {"\r\n", ""},
        {"01.1.1.1,1.1.1,1.1.1.1.1,256.1.1.1,1.1.1.1x", ""},
        {"\xff"
         "1.1.1.1,\xC3,2.2.2.2",
         "2.2.2.2"},
    };
    for (const auto& [output, expected] : cases) {
        SCOPED_TRACE(output);
        std::string found;
        for (const Ipv4Address& server : parse_name_servers(output)) {
            found += found.empty() ? "" : ",";
            found += format_ipv4(server);
        }
        EXPECT_EQ(found, expected);
    }
}

// Names come from requests and from PowerShell's own listings; a name that breaks the rule is never
// handed to a cmdlet that might read it as a wildcard pattern.
TEST(AdapterNameRule, NameBreakingItReachesNoScript) {
    for (const std::string name : {"", "Ether*", "a'b", "a$b", "a\nb", "a\\b", "\"Wi-Fi\""}) {
        SCOPED_TRACE(name);
        FakeProgramRunner runner;
        EXPECT_EQ(set_adapter_enabled(runner, name, true), os_failure("invalid adapter name"));
        EXPECT_EQ(set_adapter_enabled(runner, name, false), os_failure("invalid adapter name"));
        EXPECT_EQ(read_adapter_dns(runner, name), os_failure("invalid adapter name"));
        EXPECT_EQ(set_adapter_dns(runner, name, PUBLIC_DNS_SERVERS),
                  os_failure("invalid adapter name"));
        EXPECT_TRUE(runner.journal.empty());
    }
}

TEST(UsePublicDns, SwitchesEachConnectedAdapterNotAlreadyOnThePublicServersInOrder) {
    FakeProgramRunner runner{
        {0, R"(["On public","Reversed","Automatic"])"},
        {0, "1.1.1.1,8.8.8.8\r\n"}, // skipped: exactly the public list
        {0, "8.8.8.8 1.1.1.1\r\n"}, // the reverse order is switched
        {0},
        {0, ""}, // automatic servers read as an empty list
        {0},
    };

    EXPECT_EQ(perform(request::UsePublicDns{}, runner),
              (Settings{{"Reversed", {ip("8.8.8.8"), ip("1.1.1.1")}}, {"Automatic", {}}}));
    EXPECT_EQ(
        runner.journal,
        (Journal{"connected", "read VLX_ADAPTER=On public", "read VLX_ADAPTER=Reversed",
                 "set VLX_ADAPTER=Reversed VLX_DNS=1.1.1.1,8.8.8.8", "read VLX_ADAPTER=Automatic",
                 "set VLX_ADAPTER=Automatic VLX_DNS=1.1.1.1,8.8.8.8"}));

    FakeProgramRunner none{{0, "[]"}};
    EXPECT_EQ(perform(request::UsePublicDns{}, none), Settings{});
    EXPECT_EQ(none.journal, Journal{"connected"});
}

TEST(UsePublicDns, FailedSetPutsBackTheAdaptersAlreadySwitchedAndReturnsItsError) {
    FakeProgramRunner runner{
        {0, R"(["A","B","C"])"},
        {0, "9.9.9.9,149.112.112.112"},
        {0},
        {0, ""},
        {0},
        {0, "10.0.0.1"},
        {1, "", "  boom\r\n"},
        // The undo: the physical listing, then A and B back to what they had.
        {0, R"([{"name":"A","disabled":false},{"name":"B","disabled":false},)"
            R"({"name":"C","disabled":false}])"},
        {0},
        {0},
    };

    EXPECT_EQ(perform(request::UsePublicDns{}, runner), os_failure("boom"));
    EXPECT_EQ(
        runner.journal,
        (Journal{"connected", "read VLX_ADAPTER=A", "set VLX_ADAPTER=A VLX_DNS=1.1.1.1,8.8.8.8",
                 "read VLX_ADAPTER=B", "set VLX_ADAPTER=B VLX_DNS=1.1.1.1,8.8.8.8",
                 "read VLX_ADAPTER=C", "set VLX_ADAPTER=C VLX_DNS=1.1.1.1,8.8.8.8", "physical",
                 "set VLX_ADAPTER=A VLX_DNS=9.9.9.9,149.112.112.112",
                 "set VLX_ADAPTER=B VLX_DNS="}));
}

TEST(UsePublicDns, OtherFailuresReturnTheFirstErrorAndPutBackOnlyWhatWasSwitched) {
    struct Case {
        const char* what;
        std::vector<Exit> answers;
        std::string error;
        Journal scripts;
    };
    const Case cases[] = {
        {"a failed undo does not hide the set error",
         {{0, R"(["A","B"])"},
          {0, "9.9.9.9"},
          {0},
          {0, ""},
          {1, "", "set failed"},
          {1, "", "listing failed"}},
         "set failed",
         {"connected", "read", "set", "read", "set", "physical"}},
        {"the first set failing has nothing to put back",
         {{0, R"(["A"])"},
          {0, ""},
          {1, "", "set failed"},
          {0, R"([{"name":"A","disabled":false}])"}},
         "set failed",
         {"connected", "read", "set", "physical"}},
        // A failed read puts back what was switched before it, as a failed set does.
        {"a failed read",
         {{0, R"(["A","B","C"])"},
          {0, "9.9.9.9"},
          {0},
          {1, "", "read failed"},
          {0, R"([{"name":"A","disabled":false}])"},
          {0}},
         "read failed",
         {"connected", "read VLX_ADAPTER=A", "set", "read VLX_ADAPTER=B", "physical",
          "set VLX_ADAPTER=A VLX_DNS=9.9.9.9"}},
        {"a connected name breaking the name rule",
         {{0, R"(["A","B?","C"])"}, {0, ""}, {0}, {0, R"([{"name":"A","disabled":false}])"}, {0}},
         "invalid adapter name",
         {"connected", "read", "set", "physical", "set VLX_ADAPTER=A VLX_DNS="}},
        {"a failed first read has nothing to put back",
         {{0, R"(["A"])"}, {1, "", "read failed"}, {0, "[]"}},
         "read failed",
         {"connected", "read", "physical"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeProgramRunner runner(c.answers);

        EXPECT_EQ(perform(request::UsePublicDns{}, runner), os_failure(c.error));
        // An expected line without values stands for any run of that script.
        Journal scripts;
        for (std::size_t i = 0; i < runner.journal.size(); ++i) {
            const std::string& line = runner.journal[i];
            const bool whole = i < c.scripts.size() && c.scripts[i].find(' ') != std::string::npos;
            scripts.push_back(whole ? line : line.substr(0, line.find(' ')));
        }
        EXPECT_EQ(scripts, c.scripts);
    }
}

const std::string TWO_PHYSICAL =
    R"([{"name":"Ethernet","disabled":false},{"name":"Wi-Fi","disabled":true}])";

TEST(RestoreDns, SetsEverySettingInOrder) {
    FakeProgramRunner runner{{0, TWO_PHYSICAL}, {0}, {0}};
    const Settings settings{{"Wi-Fi", {}}, {"Ethernet", {ip("192.168.0.1"), ip("8.8.4.4")}}};

    ASSERT_TRUE(perform(request::RestoreDns{settings}, runner));

    EXPECT_EQ(runner.journal, (Journal{"physical", "set VLX_ADAPTER=Wi-Fi VLX_DNS=",
                                       "set VLX_ADAPTER=Ethernet VLX_DNS=192.168.0.1,8.8.4.4"}));
}

TEST(RestoreDns, UnknownAdapterChangesNothing) {
    for (const std::string missing : {"Gone", "ethernet", "Wi-Fi "}) {
        SCOPED_TRACE(missing);
        FakeProgramRunner runner{{0, TWO_PHYSICAL}};
        const Settings settings{{"Ethernet", {}}, {missing, {ip("1.2.3.4")}}};

        EXPECT_EQ(perform(request::RestoreDns{settings}, runner), not_found(missing));
        EXPECT_EQ(runner.journal, Journal{"physical"});
    }
}

TEST(RestoreDns, StopsAtTheFirstFailureWithoutUndo) {
    FakeProgramRunner runner{{0, TWO_PHYSICAL}, {1, "", "denied"}};
    const Settings settings{{"Ethernet", {}}, {"Wi-Fi", {}}};

    EXPECT_EQ(perform(request::RestoreDns{settings}, runner), os_failure("denied"));
    EXPECT_EQ(runner.journal, (Journal{"physical", "set VLX_ADAPTER=Ethernet VLX_DNS="}));
}

} // namespace
} // namespace vemlox
