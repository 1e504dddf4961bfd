// vemlox-client: sends one request to the Vemlox service from the command line, the way the
// desktop application does, prints the response line and tells by its exit code how it went.
#include "tool_commands.hpp"
#include "typed_call.hpp"
#include "win32_shared/console.hpp"
#include "win32_shared/wide.hpp"

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

int usage_error(std::string_view problem) {
    win::write_line(win::ConsoleStream::Error, "vemlox-client: " + std::string(problem));
    win::write_line(win::ConsoleStream::Error, client::USAGE);
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

int run(std::vector<std::string> arguments) {
    client::ClientOptions options;
    bool show_request = false;
    std::size_t next = 0;
    if (next < arguments.size() && (arguments[next] == "--help" || arguments[next] == "-h")) {
        win::write_line(win::ConsoleStream::Output, client::USAGE);
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
    const TextResult<client::ToolRequest> sent = client::parse_command(
        arguments[next], std::span<const std::string>(arguments).subspan(next + 1));
    if (!sent) {
        return usage_error(sent.error());
    }
    if (show_request) {
        win::write_line(win::ConsoleStream::Error, "request: " + sent->line);
    }

    const std::expected<std::string, client::Error> response =
        client::exchange(sent->line, options);
    if (!response) {
        win::write_line(win::ConsoleStream::Error, "vemlox-client: " + response.error().message);
        return EXIT_NO_RESPONSE;
    }
    win::write_line(win::ConsoleStream::Output, *response);
    const std::expected<OkResponse, client::Error> answer =
        client::read_answer(*response, sent->expected);
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
