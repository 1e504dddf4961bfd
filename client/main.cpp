// vemlox-client: sends one request to the Vemlox service from the command line, the way the
// desktop application does, prints the response line and tells by its exit code how it went.
#include "protocol/ipv4.hpp"
#include "protocol/text_result.hpp"
#include "request_line.hpp"
#include "win32_shared/console.hpp"
#include "win32_shared/wide.hpp"

#include <algorithm>
#include <charconv>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>
#include <vemlox/client.hpp>

namespace {

using namespace vemlox;

constexpr int EXIT_OK = 0;
constexpr int EXIT_ERROR_RESPONSE = 1; // the service answered with an error
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_NO_RESPONSE = 3; // not installed, stopped, busy, untrusted, timed out, ...

constexpr std::string_view USAGE =
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

int usage_error(std::string_view problem) {
    win::write_line(win::ConsoleStream::Error, "vemlox-client: " + std::string(problem));
    win::write_line(win::ConsoleStream::Error, USAGE);
    return EXIT_USAGE;
}

std::optional<std::chrono::seconds> parse_seconds(const std::string& text) {
    unsigned seconds = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() || seconds > 86400) {
        return std::nullopt;
    }
    return std::chrono::seconds(seconds);
}

TextResult<std::string> no_arguments(std::span<const std::string> rest, const Request& request) {
    if (!rest.empty()) {
        return std::unexpected("this command takes no arguments");
    }
    return client::encode_request(request);
}

TextResult<std::string> parse_restore_dns(std::span<const std::string> rest) {
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
    return client::encode_request(restore);
}

// What the command line asks to send: the request line itself, or why there is none.
TextResult<std::string> parse_command(std::string_view command, std::span<const std::string> rest) {
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
        return client::encode_request(request::SetMachineStartup{rest[0], rest[1] == "on"});
    }
    if (command == "disable-adapters") {
        if (rest.empty()) {
            return std::unexpected("disable-adapters needs at least one adapter name");
        }
        return client::encode_request(
            request::DisableAdapters{std::vector<std::string>(rest.begin(), rest.end())});
    }
    if (command == "restore-dns") {
        return parse_restore_dns(rest);
    }
    if (command == "raw") {
        if (rest.size() != 1) {
            return std::unexpected("raw needs exactly one argument, the request line");
        }
        return rest[0];
    }
    return std::unexpected("unknown command \"" + std::string(command) + "\"");
}

int run(std::vector<std::string> arguments) {
    client::ClientOptions options;
    bool show_request = false;
    std::size_t next = 0;
    if (next < arguments.size() && (arguments[next] == "--help" || arguments[next] == "-h")) {
        win::write_line(win::ConsoleStream::Output, USAGE);
        return EXIT_OK;
    }
    while (next < arguments.size() && arguments[next].starts_with("--")) {
        const std::string& option = arguments[next];
        if (option == "--show-request") {
            show_request = true;
            next += 1;
            continue;
        }
        if (option != "--wait" && option != "--timeout") {
            return usage_error("unknown option \"" + option + "\"");
        }
        const std::optional<std::chrono::seconds> seconds =
            next + 1 < arguments.size() ? parse_seconds(arguments[next + 1]) : std::nullopt;
        if (!seconds) {
            return usage_error(option + " needs a number of seconds from 0 to 86400");
        }
        (option == "--wait" ? options.busy_wait : options.response_timeout) = *seconds;
        next += 2;
    }
    if (next >= arguments.size()) {
        return usage_error("no command given");
    }
    const TextResult<std::string> line =
        parse_command(arguments[next], std::span<const std::string>(arguments).subspan(next + 1));
    if (!line) {
        return usage_error(line.error());
    }
    if (show_request) {
        win::write_line(win::ConsoleStream::Error, "request: " + *line);
    }

    const std::expected<std::string, client::Error> response = client::exchange(*line, options);
    if (!response) {
        win::write_line(win::ConsoleStream::Error, "vemlox-client: " + response.error().message);
        return EXIT_NO_RESPONSE;
    }
    win::write_line(win::ConsoleStream::Output, *response);
    const std::expected<OkResponse, client::Error> answer = client::read_answer(*response);
    if (answer) {
        return EXIT_OK;
    }
    if (answer.error().is_error_answer()) {
        return EXIT_ERROR_RESPONSE;
    }
    win::write_line(win::ConsoleStream::Error, "vemlox-client: " + answer.error().message);
    return EXIT_NO_RESPONSE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(win::to_utf8(argv[i]));
    }
    return run(std::move(arguments));
}
