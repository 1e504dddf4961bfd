#include "actions/dns_servers.hpp"

#include "actions/network_adapters.hpp"
#include "actions/powershell.hpp"
#include "protocol/ipv4.hpp"
#include "protocol/text_result.hpp"
#include "protocol/utf8.hpp"

#include <algorithm>
#include <string>

namespace vemlox {

namespace {

// The characters that separate the addresses PowerShell prints: a tab is not one of them.
bool separates_addresses(char c) {
    return c == ',' || c == ' ' || c == '\r' || c == '\n';
}

ActionResult<void> restore_settings(ProgramRunner& runner, std::span<const DnsSetting> settings) {
    VEMLOX_ASSIGN_OR_RETURN(auto adapters, list_physical_adapters(runner));
    VEMLOX_RETURN_IF_ERROR(check_all_listed(adapters, settings, &DnsSetting::adapter));
    for (const DnsSetting& setting : settings) {
        VEMLOX_RETURN_IF_ERROR(set_adapter_dns(runner, setting.adapter, setting.servers));
    }
    return {};
}

// The undo of a failed use_public_dns. The client never learns what the switched adapters had
// before unless the call succeeds, so leaving them switched would lose their settings for good.
// The undo is best effort; its own failure would only hide the error that matters.
void put_back(ProgramRunner& runner, std::span<const DnsSetting> replaced) {
    static_cast<void>(restore_settings(runner, replaced));
}

} // namespace

std::vector<Ipv4Address> parse_name_servers(std::string_view output) {
    const std::string decoded = to_valid_utf8(output);
    const std::string_view text(decoded);
    std::vector<Ipv4Address> servers;
    // The cutting characters are ASCII, so cutting the bytes never splits a character.
    std::size_t start = 0;
    while (servers.size() < MAX_READ_DNS_SERVERS && start <= text.size()) {
        std::size_t end = start;
        while (end < text.size() && !separates_addresses(text[end])) {
            ++end;
        }
        if (auto address = parse_ipv4(trim_white_space(text.substr(start, end - start)))) {
            servers.push_back(*address);
        }
        start = end + 1;
    }
    return servers;
}

ActionResult<std::vector<Ipv4Address>> read_adapter_dns(ProgramRunner& runner,
                                                        std::string_view adapter) {
    VEMLOX_RETURN_IF_ERROR(check_adapter_name_for_script(adapter));
    const std::array environment{
        EnvironmentPair{std::string(ADAPTER_VARIABLE), std::string(adapter)}};
    VEMLOX_ASSIGN_OR_RETURN(auto output, run_powershell(runner, READ_DNS_SCRIPT, environment));
    return parse_name_servers(output);
}

ActionResult<void> set_adapter_dns(ProgramRunner& runner, std::string_view adapter,
                                   std::span<const Ipv4Address> servers) {
    VEMLOX_RETURN_IF_ERROR(check_adapter_name_for_script(adapter));
    std::string joined;
    for (const Ipv4Address& server : servers) {
        if (!joined.empty()) {
            joined.push_back(',');
        }
        joined += format_ipv4(server);
    }
    // VLX_DNS goes along even when empty: the script tells "reset" from "set" by its value.
    const std::array environment{
        EnvironmentPair{std::string(ADAPTER_VARIABLE), std::string(adapter)},
        EnvironmentPair{std::string(DNS_VARIABLE), std::move(joined)}};
    VEMLOX_RETURN_IF_ERROR(run_powershell(runner, SET_DNS_SCRIPT, environment));
    return {};
}

ActionResult<std::vector<DnsSetting>> perform(const request::UsePublicDns&, ProgramRunner& runner) {
    VEMLOX_ASSIGN_OR_RETURN(auto connected, list_connected_adapters(runner));
    std::vector<DnsSetting> replaced;
    for (const std::string& adapter : connected) {
        auto current = read_adapter_dns(runner, adapter);
        if (!current) {
            // The adapters switched before this one are put back as after a failed set: the
            // client only learns what they had from a successful call.
            put_back(runner, replaced);
            return std::unexpected(std::move(current.error()));
        }
        // Only the exact list in this order counts as done; the reverse order is switched too.
        if (std::ranges::equal(*current, PUBLIC_DNS_SERVERS)) {
            continue;
        }
        if (auto set = set_adapter_dns(runner, adapter, PUBLIC_DNS_SERVERS); !set) {
            put_back(runner, replaced);
            return std::unexpected(std::move(set.error()));
        }
        replaced.push_back(DnsSetting{adapter, std::move(*current)});
    }
    return replaced;
}

ActionResult<void> perform(const request::RestoreDns& request, ProgramRunner& runner) {
    return restore_settings(runner, request.settings);
}

} // namespace vemlox
