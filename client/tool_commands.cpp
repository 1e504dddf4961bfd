#include "tool_commands.hpp"

#include "protocol/ipv4.hpp"
#include "request_line.hpp"
#include "typed_call.hpp"

#include <algorithm>
#include <vector>

namespace vemlox::client {

const std::string_view USAGE =
    "usage: vemlox-client [--wait SECONDS] [--timeout SECONDS] [--show-request] COMMAND\n"
    "commands:\n"
    "  ping\n"
    "  set-machine-startup NAME on|off\n"
    "  create-restore-point\n"
    "  enable-adapters\n"
    "  disable-adapters NAME [NAME...]\n"
    "  renew-ip\n"
    "  use-public-dns\n"
    "  restore-dns ADAPTER=[IP[,IP...]] [ADAPTER=...]   (ADAPTER= alone: automatic DNS)\n"
    "  raw 'JSON LINE'                                  (sent as it is, plus a line feed)\n"
    "Prints the service's response line. Exit code 0 for an ok response, 1 for an error\n"
    "response, 2 for a usage error, 3 when no readable response came. --wait bounds how long\n"
    "a busy or starting service is waited for (default 10), --timeout how long its response\n"
    "is (default 300); --show-request prints the request line sent on standard error first.";

namespace {

ToolRequest sent(const Request& request) {
    return {encode_request(request), reply_expected(request)};
}

TextResult<ToolRequest> no_arguments(std::span<const std::string> rest, const Request& request) {
    if (!rest.empty()) {
        return std::unexpected("this command takes no arguments");
    }
    return sent(request);
}

TextResult<ToolRequest> parse_restore_dns(std::span<const std::string> rest) {
    if (rest.empty()) {
        return std::unexpected("restore-dns needs at least one ADAPTER=[IP,...]");
    }
    request::RestoreDns restore;
    for (const std::string& argument : rest) {
        // Addresses never hold "=", adapter names may: the last one separates them.
        const std::size_t cut = argument.rfind('=');
        if (cut == std::string::npos) {
            return std::unexpected("expected ADAPTER=[IP,...], got \"" + argument + "\"");
        }
        DnsSetting setting{argument.substr(0, cut), {}};
        const std::string_view servers = std::string_view(argument).substr(cut + 1);
        std::size_t start = 0;
        while (!servers.empty() && start <= servers.size()) {
            const std::size_t end = std::min(servers.find(',', start), servers.size());
            const std::string_view text = servers.substr(start, end - start);
            const auto address = parse_ipv4(text);
            if (!address) {
                return std::unexpected("not an IPv4 address: \"" + std::string(text) + "\"");
            }
            setting.servers.push_back(*address);
            start = end + 1;
        }
        restore.settings.push_back(std::move(setting));
    }
    return sent(restore);
}

} // namespace

TextResult<ToolRequest> parse_command(std::string_view command, std::span<const std::string> rest) {
    if (command == "ping") {
        return no_arguments(rest, request::Ping{});
    }
    if (command == "create-restore-point") {
        return no_arguments(rest, request::CreateRestorePoint{});
    }
    if (command == "enable-adapters") {
        return no_arguments(rest, request::EnableAdapters{});
    }
    if (command == "renew-ip") {
        return no_arguments(rest, request::RenewIp{});
    }
    if (command == "use-public-dns") {
        return no_arguments(rest, request::UsePublicDns{});
    }
    if (command == "set-machine-startup") {
        if (rest.size() != 2 || (rest[1] != "on" && rest[1] != "off")) {
            return std::unexpected("set-machine-startup needs NAME and on or off");
        }
        return sent(request::SetMachineStartup{rest[0], rest[1] == "on"});
    }
    if (command == "disable-adapters") {
        if (rest.empty()) {
            return std::unexpected("disable-adapters needs at least one adapter name");
        }
        return sent(request::DisableAdapters{std::vector<std::string>(rest.begin(), rest.end())});
    }
    if (command == "restore-dns") {
        return parse_restore_dns(rest);
    }
    if (command == "raw") {
        if (rest.size() != 1) {
            return std::unexpected("raw needs exactly one argument, the request line");
        }
        return ToolRequest{rest[0], reply::Nothing{}};
    }
    return std::unexpected("unknown command \"" + std::string(command) + "\"");
}

} // namespace vemlox::client
