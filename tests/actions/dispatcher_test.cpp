#include "actions/dispatcher.hpp"
#include "protocol/ipv4.hpp"
#include "protocol/parse_request.hpp"
#include "protocol/printers.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace vemlox {
namespace {

// Records every call with its arguments, joined by '|', and answers with `error` when set,
// otherwise with success and `enabled_names` or `previous_dns` as the payload where there is one.
class FakeOperations : public Operations {
  public:
    std::optional<ActionError> error;
    std::vector<std::string> enabled_names;
    std::vector<DnsSetting> previous_dns;
    std::vector<std::string> calls;

    ActionResult<void> set_machine_startup(std::string_view name, bool enabled) override {
        return answer("set_machine_startup|" + std::string(name) + (enabled ? "|true" : "|false"));
    }
    ActionResult<void> create_restore_point() override { return answer("create_restore_point"); }
    ActionResult<std::vector<std::string>> enable_adapters() override {
        return answer("enable_adapters", enabled_names);
    }
    ActionResult<void> disable_adapters(std::span<const std::string> names) override {
        std::string call = "disable_adapters";
        for (const std::string& name : names) {
            call += '|' + name;
        }
        return answer(call);
    }
    ActionResult<void> renew_ip() override { return answer("renew_ip"); }
    ActionResult<std::vector<DnsSetting>> use_public_dns() override {
        return answer("use_public_dns", previous_dns);
    }
    ActionResult<void> restore_dns(std::span<const DnsSetting> settings) override {
        std::string call = "restore_dns";
        for (const DnsSetting& setting : settings) {
            call += '|' + setting.adapter + '=';
            for (const Ipv4Address& server : setting.servers) {
                call += format_ipv4(server) + ' ';
            }
        }
        return answer(call);
    }

  private:
    ActionResult<void> answer(std::string call) {
        calls.push_back(std::move(call));
        return error ? ActionResult<void>(std::unexpected(*error)) : ActionResult<void>();
    }
    template <typename T> ActionResult<T> answer(std::string call, const T& payload) {
        const auto done = answer(std::move(call));
        return done ? ActionResult<T>(payload) : std::unexpected(done.error());
    }
};

using Calls = std::vector<std::string>;

struct OperationCase {
    std::string line;
    std::string call;
    std::string label;
};

// Every operation whose log line is its label followed by the outcome. Arguments reach the
// operation as decoded; the label shows them quoted.
const OperationCase LABELLED_OPERATIONS[] = {
    {R"({"op":"set_machine_startup","name":"Updater","enabled":false})",
     "set_machine_startup|Updater|false", R"(set_machine_startup "Updater" enabled=false)"},
    {R"({"op":"set_machine_startup","name":"My \"App\"\u200b*","enabled":true})",
     "set_machine_startup|My \"App\"\xE2\x80\x8B*|true",
     R"(set_machine_startup "My \"App\"\u{200b}*" enabled=true)"},
    {R"({"op":"create_restore_point"})", "create_restore_point", "create_restore_point"},
    {R"({"op":"enable_adapters"})", "enable_adapters", "enable_adapters"},
    {R"({"op":"disable_adapters","names":["Ethernet","Wi-Fi 2","Ethernet"]})",
     "disable_adapters|Ethernet|Wi-Fi 2|Ethernet",
     R"(disable_adapters ["Ethernet", "Wi-Fi 2", "Ethernet"])"},
    // A line may end in CR.
    {"{\"op\":\"renew_ip\"}\r", "renew_ip", "renew_ip"},
    {R"({"op":"restore_dns","settings":[{"adapter":"Wi-Fi","servers":["8.8.8.8","1.1.1.1"]},)"
     R"({"adapter":"Ethernet","servers":[]}]})",
     "restore_dns|Wi-Fi=8.8.8.8 1.1.1.1 |Ethernet=", "restore_dns 2 adapter(s)"},
};

TEST(Dispatcher, SuccessAnswersOkAndLogsLabel) {
    for (const auto& c : LABELLED_OPERATIONS) {
        SCOPED_TRACE(c.line);
        FakeOperations operations;
        const Outcome outcome = handle_request(c.line, operations);
        EXPECT_EQ(operations.calls, Calls{c.call});
        EXPECT_EQ(outcome.response, Response(OkResponse{}));
        EXPECT_EQ(outcome.log_message, c.label + ": ok");
    }
}

TEST(Dispatcher, ActionErrorAnswersItsKindAndLogsKindWord) {
    struct ErrorCase {
        ActionError error;
        FailureKind kind;
        std::string message;
        std::string shown_in_log;
    };
    const ErrorCase errors[] = {
        {ActionError::item_not_found("Ethernet"), FailureKind::NotFound, "item not found: Ethernet",
         "NotFound item not found: Ethernet"},
        {ActionError::not_supported(), FailureKind::Failed, "not supported on this platform",
         "Failed not supported on this platform"},
        {ActionError::os_error("Access denied. (os error 5)"), FailureKind::Failed,
         "os error: Access denied. (os error 5)", "Failed os error: Access denied. (os error 5)"},
        // Only the error's kind chooses the response kind, and its text is shown unchanged.
        {ActionError::os_error("item not found: \"x\"\t\xC3\xA9"), FailureKind::Failed,
         "os error: item not found: \"x\"\t\xC3\xA9",
         "Failed os error: item not found: \"x\"\t\xC3\xA9"},
        {ActionError::item_not_found(""), FailureKind::NotFound,
         "item not found: ", "NotFound item not found: "},
    };
    for (const auto& c : LABELLED_OPERATIONS) {
        for (const auto& e : errors) {
            SCOPED_TRACE(c.line + " / " + e.shown_in_log);
            FakeOperations operations;
            operations.error = e.error;
            const Outcome outcome = handle_request(c.line, operations);
            EXPECT_EQ(operations.calls, Calls{c.call});
            EXPECT_EQ(outcome.response, Response(ErrorResponse{e.kind, e.message}));
            EXPECT_EQ(outcome.log_message, c.label + ": " + e.shown_in_log);
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
}

TEST(Dispatcher, EnableAdaptersReportsEnabledNames) {
    FakeOperations operations;
    operations.enabled_names = {"Ethernet", "Wi-Fi \"2\""};
    const Outcome outcome = handle_request(R"({"op":"enable_adapters"})", operations);
    EXPECT_EQ(outcome.response, Response(OkResponse{1, {"Ethernet", "Wi-Fi \"2\""}, {}}));
    EXPECT_EQ(outcome.log_message, R"(enable_adapters: ok ["Ethernet", "Wi-Fi \"2\""])");
}

// Its log line counts the switched adapters, and names no kind on failure.
TEST(Dispatcher, UsePublicDnsLogsTheCountOrTheErrorAlone) {
    const Ipv4Address router{{192, 168, 0, 1}};
    const std::vector<std::pair<std::vector<DnsSetting>, std::string>> results = {
        {{}, "use_public_dns: ok 0 adapter(s)"},
        {{{"Ethernet", {router}}, {"Wi-Fi", {router, router}}}, "use_public_dns: ok 2 adapter(s)"},
    };
    for (const auto& [previous, log] : results) {
        SCOPED_TRACE(log);
        FakeOperations operations;
        operations.previous_dns = previous;
        const Outcome outcome = handle_request(R"({"op":"use_public_dns"})", operations);
        EXPECT_EQ(outcome.response, Response(OkResponse{1, {}, previous}));
        EXPECT_EQ(outcome.log_message, log);
    }
    const std::vector<std::pair<ActionError, ErrorResponse>> errors = {
        {ActionError::item_not_found("Ethernet"),
         {FailureKind::NotFound, "item not found: Ethernet"}},
        {ActionError::os_error("boom"), {FailureKind::Failed, "os error: boom"}},
    };
    for (const auto& [error, response] : errors) {
        SCOPED_TRACE(response.message);
        FakeOperations operations;
        operations.error = error;
        const Outcome outcome = handle_request(R"({"op":"use_public_dns"})", operations);
        EXPECT_EQ(operations.calls, Calls{"use_public_dns"});
        EXPECT_EQ(outcome.response, Response(response));
        EXPECT_EQ(outcome.log_message, "use_public_dns: " + response.message);
    }
}

// The parser's own texts are pinned with the parser; here, that they reach the client and the log
// unchanged, with the line's length in bytes as received.
TEST(Dispatcher, RejectsUnparsableLinesWithTheParserTextAndTheirLength) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "rejected (0 bytes): EOF while parsing a value at line 1 column 0"},
        {"\r", "rejected (1 bytes): EOF while parsing a value at line 1 column 1"},
        {"\xC3\xA9", "rejected (2 bytes): expected value at line 1 column 1"},
        {"{\"op\":\"ping\"}x\r", "rejected (15 bytes): trailing characters at line 1 column 14"},
        {R"({"op":"disable_adapters","names":[]})", "rejected (36 bytes): invalid adapter list"},
        {R"({"op":"set_machine_startup","name":"a\\b","enabled":true})",
         "rejected (57 bytes): invalid startup entry name"},
        {std::string(MAX_REQUEST_BYTES + 1, ' '), "rejected (16385 bytes): request too large"},
    };
    for (const auto& [line, log] : cases) {
        SCOPED_TRACE(line.substr(0, 60));
        FakeOperations operations;
        const Outcome outcome = handle_request(line, operations);
        EXPECT_TRUE(operations.calls.empty());
        EXPECT_EQ(outcome.response,
                  Response(ErrorResponse{FailureKind::Rejected, log.substr(log.find(": ") + 2)}));
        EXPECT_EQ(outcome.log_message, log);
    }
}

} // namespace
} // namespace vemlox
