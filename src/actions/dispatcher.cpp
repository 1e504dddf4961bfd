#include "actions/dispatcher.hpp"

#include "protocol/parse_request.hpp"
#include "protocol/quoted.hpp"

#include <utility>
#include <vector>

namespace vemlox {

namespace {

std::string adapter_count(std::size_t count) {
    return std::to_string(count) + " adapter(s)";
}

Outcome failure(const std::string& label, const ActionError& error) {
    const FailureKind kind = error.failure_kind();
    std::string message = error.message();
    std::string log_message = label + ": ";
    log_message += log_word(kind);
    log_message += ' ';
    log_message += message;
    return {ErrorResponse{kind, std::move(message)}, std::move(log_message)};
}

Outcome success(const std::string& label, std::vector<std::string> names) {
    std::string log_message = label + ": ok";
    if (!names.empty()) {
        log_message += ' ';
        log_message += quoted_list(names);
    }
    return {OkResponse{.version = 1, .names = std::move(names), .dns = {}}, std::move(log_message)};
}

Outcome outcome_of(const std::string& label, ActionResult<void> result) {
    if (!result) {
        return failure(label, result.error());
    }
    return success(label, {});
}

Outcome outcome_of(const std::string& label, ActionResult<std::vector<std::string>> result) {
    if (!result) {
        return failure(label, result.error());
    }
    return success(label, std::move(*result));
}

// One overload per request alternative: the operation it runs and the label its log message
// starts with. The label shows what was asked for, so that a failure can be matched to the request.
class Dispatch {
  public:
    explicit Dispatch(Operations& operations) : operations_(operations) {}

    Outcome operator()(const request::Ping&) const { return success("ping", {}); }

    Outcome operator()(const request::SetMachineStartup& request) const {
        const std::string label = "set_machine_startup " + quoted(request.name) +
                                  " enabled=" + (request.enabled ? "true" : "false");
        return outcome_of(label, operations_.set_machine_startup(request.name, request.enabled));
    }

    Outcome operator()(const request::CreateRestorePoint&) const {
        return outcome_of("create_restore_point", operations_.create_restore_point());
    }

    Outcome operator()(const request::EnableAdapters&) const {
        return outcome_of("enable_adapters", operations_.enable_adapters());
    }

    Outcome operator()(const request::DisableAdapters& request) const {
        const std::string label = "disable_adapters " + quoted_list(request.names);
        return outcome_of(label, operations_.disable_adapters(request.names));
    }

    Outcome operator()(const request::RenewIp&) const {
        return outcome_of("renew_ip", operations_.renew_ip());
    }

    // Unlike the others, its log line names no kind on failure and counts the switched adapters
    // on success, since the previous servers it returns are the client's to keep, not the log's.
    Outcome operator()(const request::UsePublicDns&) const {
        auto result = operations_.use_public_dns();
        if (!result) {
            std::string message = result.error().message();
            std::string log_message = "use_public_dns: " + message;
            return {ErrorResponse{result.error().failure_kind(), std::move(message)},
                    std::move(log_message)};
        }
        std::string log_message = "use_public_dns: ok " + adapter_count(result->size());
        return {OkResponse{.version = 1, .names = {}, .dns = std::move(*result)},
                std::move(log_message)};
    }

    Outcome operator()(const request::RestoreDns& request) const {
        const std::string label = "restore_dns " + adapter_count(request.settings.size());
        return outcome_of(label, operations_.restore_dns(request.settings));
    }

  private:
    Operations& operations_;
};

} // namespace

Outcome handle_request(std::string_view line, Operations& operations) {
    auto parsed = parse_request(line);
    if (!parsed) {
        std::string log_message =
            "rejected (" + std::to_string(line.size()) + " bytes): " + parsed.error();
        return {ErrorResponse{FailureKind::Rejected, std::move(parsed.error())},
                std::move(log_message)};
    }
    return std::visit(Dispatch(operations), *parsed);
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
