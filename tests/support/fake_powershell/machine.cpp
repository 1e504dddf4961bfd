#include "machine.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace vemlox::fake_powershell {

using nlohmann::json;

namespace {

constexpr std::array<std::string_view, 3> STATUSES{"Up", "Disabled", "Down"};

bool is_script_name(std::string_view name) {
    return std::ranges::any_of(KNOWN_SCRIPTS,
                               [name](const KnownScript& known) { return known.name == name; });
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::ranges::equal(a, b, [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The checks that keep a typo in a test's state file from passing silently.
std::expected<void, std::string> check_state(const json& state) {
    if (!state.is_object()) {
        return std::unexpected("the state is not a JSON object");
    }
    for (const auto& [key, value] : state.items()) {
        if (key == "output_code_page") {
            if (value != "oem" && value != "utf-8") {
                return std::unexpected("\"output_code_page\" is neither \"oem\" nor \"utf-8\"");
            }
            continue;
        }
        if (key != "adapters" && key != "failures") {
            return std::unexpected("unknown member \"" + key + "\"");
        }
        if (!value.is_array()) {
            return std::unexpected("\"" + key + "\" is not an array");
        }
    }
    for (const json& adapter : state.value("adapters", json::array())) {
        if (!adapter.is_object() || !adapter.contains("name") || !adapter["name"].is_string()) {
            return std::unexpected("an adapter without a string \"name\"");
        }
        for (const auto& [key, value] : adapter.items()) {
            const bool ok =
                (key == "name") ||
                (key == "status" && value.is_string() &&
                 std::ranges::find(STATUSES, value.get<std::string>()) != STATUSES.end()) ||
                ((key == "physical" || key == "link" || key == "ipv4") && value.is_boolean()) ||
                (key == "dns" && value.is_array() &&
                 std::ranges::all_of(value, [](const json& s) { return s.is_string(); })) ||
                (key == "dns_separator" && value.is_string());
            if (!ok) {
                return std::unexpected("adapter " + adapter["name"].dump() + ": bad member \"" +
                                       key + "\"");
            }
        }
    }
    for (const json& failure : state.value("failures", json::array())) {
        if (!failure.is_object() || !failure.contains("script") || !failure["script"].is_string() ||
            !is_script_name(failure["script"].get<std::string>())) {
            return std::unexpected("a failure without a known \"script\" name");
        }
        for (const auto& [key, value] : failure.items()) {
            const bool ok =
                (key == "script") ||
                ((key == "adapter" || key == "stderr" || key == "stdout") && value.is_string()) ||
                (key == "exit_code" && value.is_number_unsigned()) ||
                (key == "times" && value.is_number_unsigned()) ||
                (key == "sleep_ms" && value.is_number_unsigned());
            if (!ok) {
                return std::unexpected("failure " + failure["script"].dump() + ": bad member \"" +
                                       key + "\"");
            }
        }
    }
    return {};
}

// PowerShell 5.1's ConvertTo-Json escapes these few characters even inside -Compress output;
// they only ever occur inside strings there, so replacing them everywhere is exact.
std::string as_powershell_json(const json& value) {
    const std::string plain = value.dump(-1, ' ', false, json::error_handler_t::replace);
    std::string out;
    out.reserve(plain.size());
    for (const char c : plain) {
        switch (c) {
        case '<':
            out += "\\u003c";
            break;
        case '>':
            out += "\\u003e";
            break;
        case '&':
            out += "\\u0026";
            break;
        case '\'':
            out += "\\u0027";
            break;
        default:
            out += c;
        }
    }
    return out + "\r\n";
}

// An error record as PowerShell writes it to standard error when a cmdlet stops the script.
Outcome cmdlet_error(std::string_view cmdlet, std::string_view message, const KnownScript& script,
                     std::string_view category, std::string_view error_id) {
    const std::size_t at = script.text.find(cmdlet);
    const std::size_t column = at == std::string_view::npos ? 0 : at;
    std::string shown(script.text.substr(column));
    if (shown.size() > 72) {
        shown = shown.substr(0, 69) + "...";
    }
    std::string err;
    err += std::string(cmdlet) + " : " + std::string(message) + "\r\n";
    err += "At line:1 char:" + std::to_string(column + 1) + "\r\n";
    err += "+ " + std::string(column > 0 ? "... " : "") + shown + "\r\n";
    err += "+ " + std::string(column > 0 ? "    " : "") +
           std::string(std::min<std::size_t>(cmdlet.size(), 72), '~') + "\r\n";
    err += "    + CategoryInfo          : " + std::string(category) + "\r\n";
    err += "    + FullyQualifiedErrorId : " + std::string(error_id) + "," + std::string(cmdlet) +
           "\r\n \r\n";
    return Outcome{"", err, 1};
}

Outcome null_argument(std::string_view cmdlet, std::string_view parameter,
                      const KnownScript& script) {
    return cmdlet_error(cmdlet,
                        "Cannot validate argument on parameter '" + std::string(parameter) +
                            "'. The argument is null or empty. Provide an argument that is not "
                            "null or empty, and then try the command again.",
                        script,
                        "InvalidData: (:) [" + std::string(cmdlet) +
                            "], ParameterBindingValidationException",
                        "ParameterArgumentValidationError");
}

Outcome adapter_not_found(std::string_view cmdlet, std::string_view name,
                          const KnownScript& script) {
    return cmdlet_error(cmdlet,
                        "No MSFT_NetAdapter objects found with property 'Name' equal to '" +
                            std::string(name) + "'.  Verify the value of the property and retry.",
                        script,
                        "ObjectNotFound: (" + std::string(name) + ":String) [" +
                            std::string(cmdlet) + "], CimJobException",
                        "CmdletizationQuery_NotFound_Name");
}

bool is_ipv4(std::string_view text) {
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0 &&
               digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return false;
        }
        ++parts;
        if (i == text.size()) {
            return parts == 4;
        }
        if (text[i] != '.' || parts == 4) {
            return false;
        }
        ++i;
    }
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        pieces.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return pieces;
        }
        start = end + 1;
    }
}

} // namespace

std::expected<Machine, std::string> Machine::load(std::string_view state_text) {
    if (state_text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        return Machine(json::object());
    }
    json state = json::parse(state_text, nullptr, false);
    if (state.is_discarded()) {
        return std::unexpected("the state file is not valid JSON");
    }
    if (auto checked = check_state(state); !checked) {
        return std::unexpected(checked.error());
    }
    return Machine(std::move(state));
}

bool Machine::prints_in_oem_code_page() const {
    return state_.value("output_code_page", std::string("utf-8")) == "oem";
}

std::string Machine::save() const {
    return state_.dump(2) + "\n";
}

Outcome Machine::run(const KnownScript& script, const ScriptEnvironment& environment) {
    if (auto injected = take_injected_failure(script.name, environment)) {
        return *injected;
    }
    switch (script.script) {
    case Script::ListPhysical:
        return list_physical();
    case Script::ListConnected:
        return list_connected();
    case Script::Enable:
        return set_enabled(script, environment, true);
    case Script::Disable:
        return set_enabled(script, environment, false);
    case Script::ReadDns:
        return read_dns(script, environment);
    case Script::SetDns:
        return set_dns(script, environment);
    }
    return Outcome{"", "fake powershell: unhandled script\r\n", 1};
}

std::optional<Outcome> Machine::take_injected_failure(std::string_view script_name,
                                                      const ScriptEnvironment& environment) {
    if (!state_.contains("failures")) {
        return std::nullopt;
    }
    json& failures = state_["failures"];
    for (auto it = failures.begin(); it != failures.end(); ++it) {
        json& failure = *it;
        if (failure["script"].get<std::string>() != script_name) {
            continue;
        }
        if (failure.contains("adapter") &&
            (!environment.adapter ||
             failure["adapter"].get<std::string>() != *environment.adapter)) {
            continue;
        }
        Outcome outcome{failure.value("stdout", std::string{}),
                        failure.value("stderr", std::string{}),
                        failure.value("exit_code", std::uint32_t{1}),
                        failure.value("sleep_ms", std::uint32_t{0})};
        if (failure.contains("times")) {
            const auto times = failure["times"].get<std::uint64_t>();
            if (times <= 1) {
                failures.erase(it);
            } else {
                failure["times"] = times - 1;
            }
            changed_ = true;
        }
        return outcome;
    }
    return std::nullopt;
}

Outcome Machine::list_physical() const {
    json rows = json::array();
    for (const json& adapter : state_.value("adapters", json::array())) {
        if (!adapter.value("physical", true)) {
            continue;
        }
        // Hash tables keep no member order; "disabled" first shows the reader does not rely on it.
        json row = json::object();
        row["disabled"] = adapter.value("status", std::string("Up")) == "Disabled";
        row["name"] = adapter["name"];
        rows.push_back(std::move(row));
    }
    return Outcome{as_powershell_json(rows), "", 0};
}

Outcome Machine::list_connected() const {
    json names = json::array();
    for (const json& adapter : state_.value("adapters", json::array())) {
        if (adapter.value("physical", true) && adapter.value("status", std::string("Up")) == "Up" &&
            adapter.value("ipv4", true)) {
            names.push_back(adapter["name"]);
        }
    }
    return Outcome{as_powershell_json(names), "", 0};
}

Outcome Machine::set_enabled(const KnownScript& script, const ScriptEnvironment& environment,
                             bool enabled) {
    const std::string_view cmdlet = enabled ? "Enable-NetAdapter" : "Disable-NetAdapter";
    if (!environment.adapter || environment.adapter->empty()) {
        return null_argument(cmdlet, "Name", script);
    }
    json* adapter = find_adapter(*environment.adapter);
    if (adapter == nullptr) {
        return adapter_not_found(cmdlet, *environment.adapter, script);
    }
    const std::string status = adapter->value("status", std::string("Up"));
    const std::string wanted =
        enabled ? (status != "Disabled" ? status : (adapter->value("link", true) ? "Up" : "Down"))
                : "Disabled";
    if (wanted != status) {
        (*adapter)["status"] = wanted;
        changed_ = true;
    }
    return Outcome{};
}

Outcome Machine::read_dns(const KnownScript& script, const ScriptEnvironment& environment) const {
    if (!environment.adapter || environment.adapter->empty()) {
        return null_argument("Get-NetAdapter", "Name", script);
    }
    const json* adapter = find_adapter(*environment.adapter);
    if (adapter == nullptr) {
        return adapter_not_found("Get-NetAdapter", *environment.adapter, script);
    }
    const std::string separator = adapter->value("dns_separator", std::string(","));
    std::string joined;
    for (const json& server : adapter->value("dns", json::array())) {
        if (!joined.empty()) {
            joined += separator;
        }
        joined += server.get<std::string>();
    }
    // An adapter without static servers has an empty NameServer value, printed as an empty line.
    return Outcome{joined + "\r\n", "", 0};
}

Outcome Machine::set_dns(const KnownScript& script, const ScriptEnvironment& environment) {
    constexpr std::string_view cmdlet = "Set-DnsClientServerAddress";
    if (!environment.adapter || environment.adapter->empty()) {
        return null_argument(cmdlet, "InterfaceAlias", script);
    }
    json* adapter = find_adapter(*environment.adapter);
    // A disabled adapter has no DNS client interface, so the query finds nothing, as for a typo.
    if (adapter == nullptr || adapter->value("status", std::string("Up")) == "Disabled") {
        return cmdlet_error(
            cmdlet,
            "No matching MSFT_DNSClientServerAddress objects found by CIM query for "
            "instances of the ROOT/StandardCimv2/MSFT_DNSClientServerAddress class "
            "on the  CIM server: SELECT * FROM MSFT_DNSClientServerAddress  WHERE "
            "((InterfaceAlias LIKE '" +
                *environment.adapter + "')). Verify query parameters and retry.",
            script,
            "ObjectNotFound: (MSFT_DNSClientServerAddress:String) [" + std::string(cmdlet) +
                "], CimJobException",
            "CmdletizationQuery_NotFound");
    }
    json servers = json::array();
    if (environment.dns && !environment.dns->empty()) {
        for (const std::string& piece : split(*environment.dns, ',')) {
            if (!is_ipv4(piece)) {
                return cmdlet_error(cmdlet, "The parameter is incorrect. Invalid address: " + piece,
                                    script,
                                    "InvalidArgument: (MSFT_DNSClientSe...ServerAddress) [" +
                                        std::string(cmdlet) + "], CimException",
                                    "Windows System Error 87");
            }
            servers.push_back(piece);
        }
    }
    if (adapter->value("dns", json::array()) != servers) {
        (*adapter)["dns"] = servers;
        changed_ = true;
    }
    return Outcome{};
}

json* Machine::find_adapter(std::string_view name) {
    return const_cast<json*>(std::as_const(*this).find_adapter(name));
}

const json* Machine::find_adapter(std::string_view name) const {
    if (!state_.contains("adapters")) {
        return nullptr;
    }
    for (const json& adapter : state_["adapters"]) {
        if (equal_ignoring_ascii_case(adapter["name"].get<std::string>(), name)) {
            return &adapter;
        }
    }
    return nullptr;
}

} // namespace vemlox::fake_powershell
