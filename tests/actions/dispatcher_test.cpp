#include "actions/dispatcher.hpp"
#include "actions/fake_program_runner.hpp"
#include "protocol/parse_request.hpp"
#include "protocol/printers.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace vemlox {
namespace {

// The machine behind the actions: the program runner answers from its queue, the registry knows
// every Run entry, System Restore creates points; with `error` set, every call that can fail
// fails with it.
class FakeMachine : StartupRegistry, Clock, SystemRestore {
  public:
    FakeMachine(std::initializer_list<Exit> exits = {}) : runner(exits) {}
    explicit FakeMachine(const std::vector<Exit>& exits) : runner(exits) {}

    std::optional<ActionError> error;
    FakeProgramRunner runner;
    int calls = 0; // of the registry, the clock and System Restore

    [[nodiscard]] MachineAccess access() { return {runner, *this, *this, *this}; }

    // A machine whose every call fails with `failure`.
    static FakeMachine failing(ActionError failure) {
        FakeMachine machine;
        machine.error = failure;
        for (int run = 0; run < 4; ++run) {
            machine.runner.answers.emplace_back(std::unexpected(failure));
        }
        return machine;
    }

  private:
    bool run_entry_exists(std::string_view) override { return ++calls, true; }
    ActionResult<void> write_approval(std::string_view, const ApprovalValue&) override {
        ++calls;
        return error ? ActionResult<void>(std::unexpected(*error)) : ActionResult<void>();
    }
    std::uint64_t now_filetime() override { return ++calls, 0; }
    ActionResult<bool> set_restore_point(const RestorePointInfo&, StateManagerStatus&) override {
        ++calls;
        return error ? ActionResult<bool>(std::unexpected(*error)) : ActionResult<bool>(true);
    }
};

const std::string LISTED =
    R"([{"name":"Ethernet","disabled":false},)"
    R"({"name":"Wi-Fi","disabled":true},{"name":"Wi-Fi 2","disabled":false}])";

struct OperationCase {
    std::string line;
    std::string label;
    // What the machine answers for the action to succeed.
    std::vector<Exit> runs;
};

// Every operation whose log line is its label followed by the outcome. The label shows the
// request's arguments quoted.
const OperationCase LABELLED_OPERATIONS[] = {
    {R"({"op":"set_machine_startup","name":"Updater","enabled":false})",
     R"(set_machine_startup "Updater" enabled=false)",
     {}},
    {R"({"op":"set_machine_startup","name":"My \"App\"\u200b*","enabled":true})",
     R"(set_machine_startup "My \"App\"\u{200b}*" enabled=true)",
     {}},
    {R"({"op":"create_restore_point"})", "create_restore_point", {}},
    {R"({"op":"enable_adapters"})", "enable_adapters", {{0, "[]"}}},
    {R"({"op":"disable_adapters","names":["Ethernet","Wi-Fi 2","Ethernet"]})",
     R"(disable_adapters ["Ethernet", "Wi-Fi 2", "Ethernet"])",
     {{0, LISTED}, {0}, {0}, {0}}},
    // A line may end in CR.
    {"{\"op\":\"renew_ip\"}\r", "renew_ip", {{0}}},
    {R"({"op":"restore_dns","settings":[{"adapter":"Wi-Fi","servers":["8.8.8.8","1.1.1.1"]},)"
     R"({"adapter":"Ethernet","servers":[]}]})",
     "restore_dns 2 adapter(s)",
     {{0, LISTED}, {0}, {0}}},
};

TEST(Dispatcher, SuccessAnswersOkAndLogsLabel) {
    for (const auto& c : LABELLED_OPERATIONS) {
        SCOPED_TRACE(c.line);
        FakeMachine machine(c.runs);
        const Outcome outcome = handle_request(c.line, machine.access());
        EXPECT_EQ(encode_response(outcome.response), "{\"status\":\"ok\",\"version\":1}\n");
        EXPECT_EQ(outcome.log_message, c.label + ": ok");
        EXPECT_TRUE(machine.runner.answers.empty()) << "the action ran to its end";
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
            FakeMachine machine = FakeMachine::failing(e.error);
            const Outcome outcome = handle_request(c.line, machine.access());
            EXPECT_EQ(outcome.response, Response(ErrorResponse{e.kind, e.message}));
            EXPECT_EQ(outcome.log_message, c.label + ": " + e.shown_in_log);
        }
    }
}

TEST(Dispatcher, PingTouchesNothing) {
    FakeMachine machine = FakeMachine::failing(ActionError::os_error("must not be used"));
    const Outcome outcome = handle_request(R"({"op":"ping"})", machine.access());
    EXPECT_TRUE(machine.runner.journal.empty());
    EXPECT_EQ(machine.calls, 0);
    EXPECT_EQ(outcome.response, Response(OkResponse{}));
    EXPECT_EQ(outcome.log_message, "ping: ok");
}

TEST(Dispatcher, EnableAdaptersReportsEnabledNames) {
    FakeMachine machine{{0, R"([{"name":"Ethernet","disabled":true},)"
                            R"({"name":"Wi-Fi 2","disabled":true}])"},
                        {0},
                        {0}};
    const Outcome outcome = handle_request(R"({"op":"enable_adapters"})", machine.access());
    EXPECT_EQ(outcome.response, Response(OkResponse{1, reply::Names{{"Ethernet", "Wi-Fi 2"}}}));
    EXPECT_EQ(outcome.log_message, R"(enable_adapters: ok ["Ethernet", "Wi-Fi 2"])");
}

// Its log line counts the switched adapters, and names no kind on failure.
TEST(Dispatcher, UsePublicDnsLogsTheCountOrTheErrorAlone) {
    const Ipv4Address router{{192, 168, 0, 1}};
    FakeMachine none{{0, "[]"}};
    Outcome outcome = handle_request(R"({"op":"use_public_dns"})", none.access());
    EXPECT_EQ(outcome.response, Response(OkResponse{1, reply::DnsSettings{}}));
    EXPECT_EQ(outcome.log_message, "use_public_dns: ok 0 adapter(s)");

    FakeMachine two{{0, R"(["Ethernet","Wi-Fi"])"}, {0, "192.168.0.1"}, {0}, {0, ""}, {0}};
    outcome = handle_request(R"({"op":"use_public_dns"})", two.access());
    EXPECT_EQ(outcome.response,
              Response(OkResponse{1, reply::DnsSettings{{{"Ethernet", {router}}, {"Wi-Fi", {}}}}}));
    EXPECT_EQ(outcome.log_message, "use_public_dns: ok 2 adapter(s)");

    const std::vector<std::pair<ActionError, ErrorResponse>> errors = {
        {ActionError::item_not_found("Ethernet"),
         {FailureKind::NotFound, "item not found: Ethernet"}},
        {ActionError::os_error("boom"), {FailureKind::Failed, "os error: boom"}},
    };
    for (const auto& [error, response] : errors) {
        SCOPED_TRACE(response.message);
        FakeMachine machine = FakeMachine::failing(error);
        outcome = handle_request(R"({"op":"use_public_dns"})", machine.access());
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
        FakeMachine machine;
        const Outcome outcome = handle_request(line, machine.access());
        EXPECT_TRUE(machine.runner.journal.empty());
        EXPECT_EQ(machine.calls, 0);
        EXPECT_EQ(outcome.response,
                  Response(ErrorResponse{FailureKind::Rejected, log.substr(log.find(": ") + 2)}));
        EXPECT_EQ(outcome.log_message, log);
    }
}

} // namespace
} // namespace vemlox
