#include "actions/dispatcher.hpp"
#include "protocol/parse_request.hpp"
#include "protocol/printers.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace vemlox {
namespace {

// Records every call with its arguments and answers with the configured result: `error` when set,
// otherwise success with `enabled_names` or `previous_dns` as the payload where there is one.
class FakeOperations : public Operations {
  public:
    std::optional<ActionError> error;
    std::vector<std::string> enabled_names;
    std::vector<DnsSetting> previous_dns;

    std::vector<std::string> calls;
    std::string startup_name;
    bool startup_enabled = false;
    std::vector<std::string> disabled_names;
    std::vector<DnsSetting> restored;

    ActionResult<void> set_machine_startup(std::string_view name, bool enabled) override {
        calls.emplace_back("set_machine_startup");
        startup_name = name;
        startup_enabled = enabled;
        return result();
    }
    ActionResult<void> create_restore_point() override {
        calls.emplace_back("create_restore_point");
        return result();
    }
    ActionResult<std::vector<std::string>> enable_adapters() override {
        calls.emplace_back("enable_adapters");
        if (error) {
            return std::unexpected(*error);
        }
        return enabled_names;
    }
    ActionResult<void> disable_adapters(std::span<const std::string> names) override {
        calls.emplace_back("disable_adapters");
        disabled_names.assign(names.begin(), names.end());
        return result();
    }
    ActionResult<void> renew_ip() override {
        calls.emplace_back("renew_ip");
        return result();
    }
    ActionResult<std::vector<DnsSetting>> use_public_dns() override {
        calls.emplace_back("use_public_dns");
        if (error) {
            return std::unexpected(*error);
        }
        return previous_dns;
    }
    ActionResult<void> restore_dns(std::span<const DnsSetting> settings) override {
        calls.emplace_back("restore_dns");
        restored.assign(settings.begin(), settings.end());
        return result();
    }

  private:
    ActionResult<void> result() const {
        if (error) {
            return std::unexpected(*error);
        }
        return {};
    }
};

Ipv4Address ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return Ipv4Address{{a, b, c, d}};
}

struct OperationCase {
    const char* line;
    const char* operation;
    const char* label;
};

// Every operation whose log line is its label followed by the outcome.
const std::vector<OperationCase> LABELLED_OPERATIONS = {
    {R"({"op":"set_machine_startup","name":"Updater","enabled":false})", "set_machine_startup",
     R"(set_machine_startup "Updater" enabled=false)"},
    {R"({"op":"set_machine_startup","name":"Updater","enabled":true})", "set_machine_startup",
     R"(set_machine_startup "Updater" enabled=true)"},
    {R"({"op":"create_restore_point"})", "create_restore_point", "create_restore_point"},
    {R"({"op":"enable_adapters"})", "enable_adapters", "enable_adapters"},
    {R"({"op":"disable_adapters","names":["Ethernet","Wi-Fi 2"]})", "disable_adapters",
     R"(disable_adapters ["Ethernet", "Wi-Fi 2"])"},
    {R"({"op":"renew_ip"})", "renew_ip", "renew_ip"},
    {R"({"op":"restore_dns","settings":[{"adapter":"Ethernet","servers":["192.168.1.1"]},)"
     R"({"adapter":"Wi-Fi","servers":[]}]})",
     "restore_dns", "restore_dns 2 adapter(s)"},
};

TEST(Dispatcher, SuccessAnswersOkAndLogsLabel) {
    for (const auto& c : LABELLED_OPERATIONS) {
        SCOPED_TRACE(c.line);
        FakeOperations operations;
        const Outcome outcome = handle_request(c.line, operations);
        EXPECT_EQ(operations.calls, std::vector<std::string>{c.operation});
        EXPECT_EQ(outcome.response, Response(OkResponse{}));
        EXPECT_EQ(outcome.log_message, std::string(c.label) + ": ok");
    }
}

TEST(Dispatcher, ActionErrorAnswersItsKindAndLogsKindWord) {
    struct ErrorCase {
        ActionError error;
        FailureKind kind;
        const char* shown_in_log;
    };
    const std::vector<ErrorCase> errors = {
        {ActionError::item_not_found("Ethernet"), FailureKind::NotFound,
         "NotFound item not found: Ethernet"},
        {ActionError::not_supported(), FailureKind::Failed,
         "Failed not supported on this platform"},
        {ActionError::os_error("Access denied. (os error 5)"), FailureKind::Failed,
         "Failed os error: Access denied. (os error 5)"},
    };
    for (const auto& c : LABELLED_OPERATIONS) {
        for (const auto& e : errors) {
            SCOPED_TRACE(std::string(c.line) + " / " + e.shown_in_log);
            FakeOperations operations;
            operations.error = e.error;
            const Outcome outcome = handle_request(c.line, operations);
            EXPECT_EQ(operations.calls, std::vector<std::string>{c.operation});
            EXPECT_EQ(outcome.response, Response(ErrorResponse{e.kind, e.error.shown_text()}));
            EXPECT_EQ(outcome.log_message, std::string(c.label) + ": " + e.shown_in_log);
        }
    }
}

TEST(Dispatcher, PingCallsNoOperation) {
    FakeOperations operations;
    operations.error = ActionError::os_error("must not be used");
    const Outcome outcome = handle_request(R"({"op":"ping"})", operations);
    EXPECT_TRUE(operations.calls.empty());
    EXPECT_EQ(outcome.response, Response(OkResponse{}));
    EXPECT_EQ(outcome.log_message, "ping: ok");
    EXPECT_EQ(encode_response(outcome.response), "{\"status\":\"ok\",\"version\":1}\n");
}

TEST(Dispatcher, PassesRequestArgumentsUnchanged) {
    FakeOperations operations;
    (void)handle_request(R"({"op":"set_machine_startup","name":"Up date","enabled":true})",
                         operations);
    EXPECT_EQ(operations.startup_name, "Up date");
    EXPECT_TRUE(operations.startup_enabled);

    (void)handle_request(R"({"op":"disable_adapters","names":["B","A","B"]})", operations);
    EXPECT_EQ(operations.disabled_names, (std::vector<std::string>{"B", "A", "B"}));

    (void)handle_request(R"({"op":"restore_dns","settings":[)"
                         R"({"adapter":"Wi-Fi","servers":["8.8.8.8","1.1.1.1"]},)"
                         R"({"adapter":"Ethernet","servers":[]}]})",
                         operations);
    EXPECT_EQ(
        operations.restored,
        (std::vector<DnsSetting>{{"Wi-Fi", {ip(8, 8, 8, 8), ip(1, 1, 1, 1)}}, {"Ethernet", {}}}));
    EXPECT_EQ(operations.calls,
              (std::vector<std::string>{"set_machine_startup", "disable_adapters", "restore_dns"}));
}

TEST(Dispatcher, QuotesNameInLabelButPassesItRaw) {
    FakeOperations operations;
    const Outcome outcome = handle_request(
        R"({"op":"set_machine_startup","name":"My \"App\"\u200b*","enabled":false})", operations);
    EXPECT_EQ(operations.startup_name, "My \"App\"\xE2\x80\x8B*");
    EXPECT_EQ(outcome.log_message,
              R"(set_machine_startup "My \"App\"\u{200b}*" enabled=false: ok)");
}

TEST(Dispatcher, NotFoundLogCarriesAllRequestedNames) {
    FakeOperations operations;
    operations.error = ActionError::item_not_found("Wi-Fi 2");
    const Outcome outcome =
        handle_request(R"({"op":"disable_adapters","names":["Ethernet","Wi-Fi 2"]})", operations);
    EXPECT_EQ(outcome.log_message,
              R"(disable_adapters ["Ethernet", "Wi-Fi 2"]: NotFound item not found: Wi-Fi 2)");
    EXPECT_EQ(
        encode_response(outcome.response),
        "{\"status\":\"error\",\"kind\":\"not_found\",\"message\":\"item not found: Wi-Fi 2\"}\n");
}

TEST(Dispatcher, EnableAdaptersReportsEnabledNames) {
    FakeOperations operations;
    operations.enabled_names = {"Ethernet", "Wi-Fi \"2\""};
    const Outcome outcome = handle_request(R"({"op":"enable_adapters"})", operations);
    EXPECT_EQ(outcome.response, Response(OkResponse{1, {"Ethernet", "Wi-Fi \"2\""}, {}}));
    EXPECT_EQ(outcome.log_message, R"(enable_adapters: ok ["Ethernet", "Wi-Fi \"2\""])");
}

TEST(Dispatcher, UsePublicDnsCountsSwitchedAdapters) {
    const std::vector<std::vector<DnsSetting>> results = {
        {},
        {{"Ethernet", {}}},
        {{"Ethernet", {ip(192, 168, 0, 1)}}, {"Wi-Fi", {ip(10, 0, 0, 1), ip(10, 0, 0, 2)}}},
    };
    for (const auto& previous : results) {
        SCOPED_TRACE(previous.size());
        FakeOperations operations;
        operations.previous_dns = previous;
        const Outcome outcome = handle_request(R"({"op":"use_public_dns"})", operations);
        EXPECT_EQ(operations.calls, std::vector<std::string>{"use_public_dns"});
        EXPECT_EQ(outcome.response, Response(OkResponse{1, {}, previous}));
        EXPECT_EQ(outcome.log_message,
                  "use_public_dns: ok " + std::to_string(previous.size()) + " adapter(s)");
    }
}

TEST(Dispatcher, UsePublicDnsFailureLogsNoKindWord) {
    const std::vector<ActionError> errors = {ActionError::item_not_found("Ethernet"),
                                             ActionError::not_supported(),
                                             ActionError::os_error("boom")};
    for (const auto& error : errors) {
        SCOPED_TRACE(error.shown_text());
        FakeOperations operations;
        operations.error = error;
        const Outcome outcome = handle_request(R"({"op":"use_public_dns"})", operations);
        EXPECT_EQ(operations.calls, std::vector<std::string>{"use_public_dns"});
        EXPECT_EQ(outcome.response,
                  Response(ErrorResponse{error.failure_kind(), error.shown_text()}));
        EXPECT_EQ(outcome.log_message, "use_public_dns: " + error.shown_text());
    }
}

TEST(Dispatcher, RejectsUnparsableLinesWithTheParserText) {
    const std::vector<std::string> lines = {
        "",
        "\r",
        "hello",
        R"({"op":"Ping"})",
        R"({"op":"ping"}x)",
        "{\"op\":\"nope\"}\r",
        R"({"op":"disable_adapters","names":[]})",
        R"({"op":"set_machine_startup","name":"a\\b","enabled":true})",
        std::string(MAX_REQUEST_BYTES + 1, ' '),
    };
    for (const auto& line : lines) {
        SCOPED_TRACE(line.substr(0, 60));
        const auto parsed = parse_request(line);
        ASSERT_FALSE(parsed.has_value());
        FakeOperations operations;
        const Outcome outcome = handle_request(line, operations);
        EXPECT_TRUE(operations.calls.empty());
        EXPECT_EQ(outcome.response, Response(ErrorResponse{FailureKind::Rejected, parsed.error()}));
        EXPECT_EQ(outcome.log_message,
                  "rejected (" + std::to_string(line.size()) + " bytes): " + parsed.error());
    }
}

TEST(Dispatcher, RejectionLogCountsBytesIncludingCarriageReturn) {
    FakeOperations operations;
    EXPECT_EQ(handle_request("", operations).log_message.substr(0, 20), "rejected (0 bytes): ");
    EXPECT_EQ(handle_request("\r", operations).log_message.substr(0, 20), "rejected (1 bytes): ");
    EXPECT_EQ(handle_request("{\"op\":\"nope\"}\r", operations).log_message.substr(0, 21),
              "rejected (14 bytes): ");
    EXPECT_EQ(handle_request("\xC3\xA9", operations).log_message.substr(0, 20),
              "rejected (2 bytes): ");
    EXPECT_EQ(handle_request(std::string(MAX_REQUEST_BYTES + 1, ' '), operations).log_message,
              "rejected (16385 bytes): request too large");
    EXPECT_EQ(handle_request(R"({"op":"disable_adapters","names":[]})", operations).log_message,
              "rejected (36 bytes): invalid adapter list");
    EXPECT_TRUE(operations.calls.empty());
}

TEST(Dispatcher, TrailingCarriageReturnStillRunsTheRequest) {
    FakeOperations operations;
    const Outcome outcome = handle_request("{\"op\":\"renew_ip\"}\r", operations);
    EXPECT_EQ(operations.calls, std::vector<std::string>{"renew_ip"});
    EXPECT_EQ(outcome.log_message, "renew_ip: ok");
}

} // namespace
} // namespace vemlox
