#include "actions/fake_program_runner.hpp"
#include "actions/network_adapters.hpp"

#include <gtest/gtest.h>

namespace vemlox {
namespace {

using Journal = std::vector<std::string>;
using Names = std::vector<std::string>;

TEST(EnableAdapters, SwitchesOnOnlyTheDisabledAdaptersInListOrder) {
    FakeProgramRunner runner{{0, R"([{"name":"C","disabled":true},{"name":"A","disabled":false},)"
                                 R"({"name":"B","disabled":true}])"},
                             {0},
                             {0}};

    EXPECT_EQ(perform(request::EnableAdapters{}, runner), (Names{"C", "B"}));
    EXPECT_EQ(runner.journal,
              (Journal{"physical", "enable VLX_ADAPTER=C", "enable VLX_ADAPTER=B"}));
}

TEST(EnableAdapters, StopsAtTheFirstFailureLeavingEarlierAdaptersOn) {
    const std::string all_off = R"([{"name":"A","disabled":true},{"name":"B","disabled":true},)"
                                R"({"name":"C","disabled":true}])";
    FakeProgramRunner failing{{0, all_off}, {0}, {1, "", "cannot enable B"}};
    EXPECT_EQ(perform(request::EnableAdapters{}, failing), os_failure("cannot enable B"));
    EXPECT_EQ(failing.journal,
              (Journal{"physical", "enable VLX_ADAPTER=A", "enable VLX_ADAPTER=B"}));

    // A listed name that breaks the adapter-name rule never reaches a cmdlet.
    FakeProgramRunner odd_name{{0, R"([{"name":"A","disabled":true},)"
                                   R"({"name":"B[1]","disabled":true}])"},
                               {0}};
    EXPECT_EQ(perform(request::EnableAdapters{}, odd_name), os_failure("invalid adapter name"));
    EXPECT_EQ(odd_name.journal, (Journal{"physical", "enable VLX_ADAPTER=A"}));
}

const std::string THREE_ADAPTERS = R"([{"name":"Ethernet","disabled":false},)"
                                   R"({"name":"Wi-Fi","disabled":true},)"
                                   R"({"name":"Ethernet 2","disabled":false}])";

TEST(DisableAdapters, SwitchesOffTheNamesInRequestOrder) {
    FakeProgramRunner runner{{0, THREE_ADAPTERS}, {0}, {0}, {0}};
    // An adapter already off is switched off again; a name given twice is processed twice.
    const Names names{"Ethernet 2", "Wi-Fi", "Ethernet 2"};

    ASSERT_TRUE(perform(request::DisableAdapters{names}, runner));

    EXPECT_EQ(runner.journal,
              (Journal{"physical", "disable VLX_ADAPTER=Ethernet 2", "disable VLX_ADAPTER=Wi-Fi",
                       "disable VLX_ADAPTER=Ethernet 2"}));
}

TEST(DisableAdapters, UnknownNameChangesNothing) {
    struct Case {
        Names names;
        std::string missing;
    };
    const Case cases[] = {
        {{"Ethernet", "Bluetooth"}, "Bluetooth"},
        {{"ETHERNET"}, "ETHERNET"},
        {{"Wi-Fi", "ethernet 2", "Nope"}, "ethernet 2"},
        {{"Ethernet "}, "Ethernet "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.missing);
        FakeProgramRunner runner{{0, THREE_ADAPTERS}};

        EXPECT_EQ(perform(request::DisableAdapters{c.names}, runner), not_found(c.missing));
        EXPECT_EQ(runner.journal, Journal{"physical"});
    }
}

TEST(DisableAdapters, StopsAtTheFirstFailure) {
    FakeProgramRunner runner{{0, THREE_ADAPTERS}, {0}, {1, "", "  access denied\r\n"}};
    const Names names{"Ethernet", "Wi-Fi", "Ethernet 2"};

    EXPECT_EQ(perform(request::DisableAdapters{names}, runner), os_failure("access denied"));
    EXPECT_EQ(runner.journal,
              (Journal{"physical", "disable VLX_ADAPTER=Ethernet", "disable VLX_ADAPTER=Wi-Fi"}));
}

} // namespace
} // namespace vemlox
