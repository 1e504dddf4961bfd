#include "machine.hpp"

#include "scripts.hpp"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace vemlox::fake_powershell {

using nlohmann::json;

namespace {

std::expected<void, std::string> check_members(const json& object, std::string_view what,
                                               std::initializer_list<std::string_view> known) {
    if (!object.is_object()) {
        return std::unexpected(std::string(what) + " is not a JSON object");
    }
    for (const auto& [key, value] : object.items()) {
        if (std::ranges::find(known, key) == known.end()) {
            return std::unexpected(std::string(what) + ": unknown member \"" + key + "\"");
        }
    }
    return {};
}

std::expected<void, std::string> check_machine(const json& machine) {
    if (auto checked =
            check_members(machine, "the state", {"adapters", "failures", "output_code_page"});
        !checked) {
        return checked;
    }
    for (const json& adapter : machine.value("adapters", json::array())) {
        if (auto checked = check_members(
                adapter, "an adapter",
                {"name", "status", "physical", "link", "ipv4", "dns", "dns_separator"});
            !checked) {
            return checked;
        }
        const std::string status = adapter.value("status", "Up");
        if (!adapter.contains("name") ||
            (status != "Up" && status != "Disabled" && status != "Down")) {
            return std::unexpected("adapter " + adapter.dump() + ": no name or an unknown status");
        }
    }
    for (const json& failure : machine.value("failures", json::array())) {
        if (auto checked = check_members(
                failure, "a failure",
                {"script", "adapter", "stdout", "stderr", "exit_code", "times", "sleep_ms"});
            !checked) {
            return checked;
        }
        const std::string script = failure.value("script", "");
        if (std::ranges::none_of(KNOWN_SCRIPTS,
                                 [&](const KnownScript& known) { return known.name == script; })) {
            return std::unexpected("failure " + failure.dump() + ": no known script name");
        }
    }
    return {};
}

// PowerShell 5.1's ConvertTo-Json escapes these few characters even inside -Compress output;
// they only ever occur inside strings there, so replacing them everywhere is exact.
std::string as_powershell_json(const json& value) {
    std::string out;
    for (const char c : value.dump(-1, ' ', false, json::error_handler_t::replace)) {
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

// The first line of the error record PowerShell writes when a cmdlet stops the script.
Outcome cmdlet_error(std::string_view cmdlet, const std::string& message) {
    return Outcome{"", std::string(cmdlet) + " : " + message + "\r\n", 1};
}

std::string status_of(const json& adapter) {
    return adapter.value("status", "Up");
}

// Windows compares interface names ignoring case (only ASCII letters fold here).
bool same_name(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

json* find_adapter(json& machine, const std::optional<std::string>& name) {
    if (!name || !machine.contains("adapters")) {
        return nullptr;
    }
    for (json& adapter : machine["adapters"]) {
        if (same_name(adapter["name"].get<std::string>(), *name)) {
            return &adapter;
        }
    }
    return nullptr;
}

Outcome adapter_not_found(std::string_view cmdlet, const ScriptEnvironment& environment) {
    return cmdlet_error(cmdlet, "No MSFT_NetAdapter objects found with property 'Name' equal to '" +
                                    environment.adapter.value_or("") +
                                    "'.  Verify the value of the property and retry.");
}

std::optional<Outcome> take_injected_failure(json& machine, std::string_view script,
                                             const ScriptEnvironment& environment) {
    if (!machine.contains("failures")) {
        return std::nullopt;
    }
    json& failures = machine["failures"];
    for (auto it = failures.begin(); it != failures.end(); ++it) {
        if (it->value("script", "") != script ||
            (it->contains("adapter") && it->value("adapter", "") != environment.adapter)) {
            continue;
        }
        Outcome outcome{it->value("stdout", ""), it->value("stderr", ""),
                        it->value("exit_code", std::uint32_t{1}),
                        it->value("sleep_ms", std::uint32_t{0})};
        if (it->contains("times")) {
            const auto times = it->value("times", std::uint64_t{0});
            if (times <= 1) {
                failures.erase(it);
            } else {
                (*it)["times"] = times - 1;
            }
        }
        return outcome;
    }
    return std::nullopt;
}

Outcome list_adapters(const json& machine, bool connected_only) {
    json rows = json::array();
    for (const json& adapter : machine.value("adapters", json::array())) {
        if (!adapter.value("physical", true)) {
            continue;
        }
        if (!connected_only) {
            // Object members come out sorted, "disabled" first: the reader must not rely on order.
            rows.push_back(
                {{"name", adapter["name"]}, {"disabled", status_of(adapter) == "Disabled"}});
        } else if (status_of(adapter) == "Up" && adapter.value("ipv4", true)) {
            rows.push_back(adapter["name"]);
        }
    }
    return Outcome{as_powershell_json(rows), "", 0};
}

Outcome set_enabled(json& machine, const ScriptEnvironment& environment, bool enabled) {
    json* adapter = find_adapter(machine, environment.adapter);
    if (adapter == nullptr) {
        return adapter_not_found(enabled ? "Enable-NetAdapter" : "Disable-NetAdapter", environment);
    }
    if (!enabled) {
        (*adapter)["status"] = "Disabled";
    } else if (status_of(*adapter) == "Disabled") {
        (*adapter)["status"] = adapter->value("link", true) ? "Up" : "Down";
    }
    return Outcome{};
}

Outcome read_dns(json& machine, const ScriptEnvironment& environment) {
    const json* adapter = find_adapter(machine, environment.adapter);
    if (adapter == nullptr) {
        return adapter_not_found("Get-NetAdapter", environment);
    }
    std::string joined;
    for (const json& server : adapter->value("dns", json::array())) {
        joined += (joined.empty() ? "" : adapter->value("dns_separator", ",")) +
                  server.get<std::string>();
    }
    // An adapter without static servers has an empty NameServer value, printed as an empty line.
    return Outcome{joined + "\r\n", "", 0};
}

Outcome set_dns(json& machine, const ScriptEnvironment& environment) {
    json* adapter = find_adapter(machine, environment.adapter);
    if (adapter == nullptr) {
        return adapter_not_found("Set-DnsClientServerAddress", environment);
    }
    json servers = json::array();
    const std::string_view listed = environment.dns ? *environment.dns : std::string_view();
    for (std::size_t start = 0; start < listed.size();) {
        const std::size_t end = std::min(listed.find(',', start), listed.size());
        servers.push_back(listed.substr(start, end - start));
        start = end + 1;
    }
    (*adapter)["dns"] = servers;
    return Outcome{};
}

} // namespace

std::expected<json, std::string> load_machine(std::string_view text) {
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        return json::object();
    }
    json machine = json::parse(text, nullptr, false);
    if (machine.is_discarded()) {
        return std::unexpected("the state file is not valid JSON");
    }
    if (auto checked = check_machine(machine); !checked) {
        return std::unexpected(checked.error());
    }
    return machine;
}

Outcome run_script(json& machine, std::string_view script, const ScriptEnvironment& environment) {
    if (auto injected = take_injected_failure(machine, script, environment)) {
        return *injected;
    }
    if (script == "list_physical" || script == "list_connected") {
        return list_adapters(machine, script == "list_connected");
    }
    if (script == "enable" || script == "disable") {
        return set_enabled(machine, environment, script == "enable");
    }
    return script == "read_dns" ? read_dns(machine, environment) : set_dns(machine, environment);
}

} // namespace vemlox::fake_powershell
