#include "actions/dispatcher.hpp"

#include "actions/every_action.hpp"
#include "protocol/parse_request.hpp"
#include "protocol/quoted.hpp"

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

namespace vemlox {

namespace {

// Ping's action: the one operation that touches nothing.
ActionResult<void> perform(const request::Ping&) {
    return {};
}

// The interfaces of `machine` that the bits of CHOICE pick, in the order of MachineAccess.
template <bool WANTED, typename Interface> auto take(Interface& interface) {
    if constexpr (WANTED) {
        return std::tuple<Interface&>(interface);
    } else {
        return std::tuple<>();
    }
}
template <unsigned CHOICE> auto interfaces(const MachineAccess& machine) {
    return std::tuple_cat(
        take<(CHOICE & 1U) != 0>(machine.runner), take<(CHOICE & 2U) != 0>(machine.registry),
        take<(CHOICE & 4U) != 0>(machine.clock), take<(CHOICE & 8U) != 0>(machine.restore));
}
constexpr unsigned CHOICES = 16;

template <typename Operation, typename Interfaces> constexpr bool PERFORMED_WITH = false;
template <typename Operation, typename... Interface>
constexpr bool PERFORMED_WITH<Operation, std::tuple<Interface&...>> =
    requires(const Operation& request, Interface&... interface) {
    perform(request, interface...);
};

// The interfaces an operation's action takes: the first choice for which an overload of
// `perform(request, interfaces...)` exists.
template <typename Operation, unsigned CHOICE = 0> constexpr unsigned interfaces_taken() {
    if constexpr (CHOICE == CHOICES) {
        static_assert(CHOICE != CHOICES,
                      "no action for this operation: declare perform(const request::Op&, the "
                      "interfaces it uses in the order of MachineAccess) in its action's header "
                      "and list the action in src/actions/CMakeLists.txt");
        return CHOICE;
    } else if constexpr (PERFORMED_WITH<Operation, decltype(interfaces<CHOICE>(
                                                       std::declval<const MachineAccess&>()))>) {
        return CHOICE;
    } else {
        return interfaces_taken<Operation, CHOICE + 1>();
    }
}

template <typename Operation>
auto run_action(const Operation& request, const MachineAccess& machine) {
    return std::apply([&request](auto&... interface) { return perform(request, interface...); },
                      interfaces<interfaces_taken<Operation>()>(machine));
}

// What the log shows of an ok response's payload, after "ok".
std::string log_text(const reply::Nothing&) {
    return {};
}
std::string log_text(const reply::Names& reply) {
    return reply.names.empty() ? std::string() : quoted_list(reply.names);
}
std::string log_text(const reply::DnsSettings& reply) {
    return std::to_string(reply.dns.size()) + " adapter(s)";
}

// The label shows what was asked for, so that a failure can be matched to the request.
template <typename Operation> std::string log_label(const Operation& request) {
    if constexpr (requires { request.log_label(); }) {
        return request.log_label();
    } else {
        return std::string(Operation::WIRE.op);
    }
}

template <typename Operation> constexpr bool log_shows_failure_kind() {
    if constexpr (requires { Operation::LOG_SHOWS_FAILURE_KIND; }) {
        return Operation::LOG_SHOWS_FAILURE_KIND;
    } else {
        return true;
    }
}

Outcome failure(const std::string& label, const ActionError& error, bool shows_kind) {
    const FailureKind kind = error.failure_kind();
    std::string message = error.message();
    std::string log_message = label + ": ";
    if (shows_kind) {
        log_message += log_word(kind);
        log_message += ' ';
    }
    log_message += message;
    return {ErrorResponse{kind, std::move(message)}, std::move(log_message)};
}

template <typename Reply> Outcome success(const std::string& label, Reply reply) {
    std::string log_message = label + ": ok";
    if (const std::string shown = log_text(reply); !shown.empty()) {
        log_message += ' ';
        log_message += shown;
    }
    return {OkResponse{.version = 1, .payload = std::move(reply)}, std::move(log_message)};
}

template <typename Operation>
Outcome outcome_of(const Operation& request, const MachineAccess& machine) {
    using Reply = typename Operation::Reply;
    using Value = wire::ReplyValueOf<Reply>;
    auto result = run_action(request, machine);
    static_assert(std::is_same_v<decltype(result), ActionResult<Value>>,
                  "an action returns what its operation's Reply carries");
    const std::string label = log_label(request);
    if (!result) {
        return failure(label, result.error(), log_shows_failure_kind<Operation>());
    }
    if constexpr (std::is_void_v<Value>) {
        return success(label, Reply{});
    } else {
        return success(label, Reply{std::move(*result)});
    }
}

} // namespace

Outcome handle_request(std::string_view line, const MachineAccess& machine) {
    auto parsed = parse_request(line);
    if (!parsed) {
        std::string log_message =
            "rejected (" + std::to_string(line.size()) + " bytes): " + parsed.error();
        return {ErrorResponse{FailureKind::Rejected, std::move(parsed.error())},
                std::move(log_message)};
    }
    return std::visit([&machine](const auto& request) { return outcome_of(request, machine); },
                      *parsed);
}

Outcome reject_caller(std::string_view caller_path) {
    return {ErrorResponse{FailureKind::Rejected, std::string(CALLER_NOT_ALLOWED)},
            "rejected caller " + quoted(caller_path)};
}

Outcome reject_incomplete_request() {
    return {ErrorResponse{FailureKind::Rejected, std::string(REQUEST_TOO_LARGE_OR_INCOMPLETE)},
            "rejected: " + std::string(REQUEST_TOO_LARGE_OR_INCOMPLETE)};
}

} // namespace vemlox
