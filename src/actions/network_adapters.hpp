// The machine's physical network adapters: listing them and switching them on and off through
// fixed PowerShell scripts. Adapters are known by name, and names are compared byte for byte.
#pragma once

#include "actions/action_error.hpp"
#include "actions/adapter_listing.hpp"
#include "actions/program_runner.hpp"
#include "protocol/request.hpp"

#include <algorithm>
#include <functional>
#include <ranges>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vemlox {

// Each listing wraps its result in @( ) and passes it with -InputObject, so the output is always
// one JSON array, also for no adapter or for a single one.
inline constexpr std::string_view PHYSICAL_ADAPTERS_SCRIPT =
    "ConvertTo-Json -Compress -InputObject @(Get-NetAdapter -Physical -ErrorAction "
    "SilentlyContinue | ForEach-Object { @{ name = [string]$_.Name; disabled = "
    "[bool]($_.Status -eq 'Disabled') } })";
inline constexpr std::string_view CONNECTED_ADAPTERS_SCRIPT =
    "ConvertTo-Json -Compress -InputObject @(Get-NetAdapter -Physical -ErrorAction "
    "SilentlyContinue | Where-Object { $_.Status -eq 'Up' -and (Get-DnsClientServerAddress "
    "-InterfaceIndex $_.ifIndex -AddressFamily IPv4 -ErrorAction SilentlyContinue) } | "
    "ForEach-Object { [string]$_.Name })";
inline constexpr std::string_view ENABLE_ADAPTER_SCRIPT =
    "Enable-NetAdapter -Name $env:VLX_ADAPTER -Confirm:$false -ErrorAction Stop";
inline constexpr std::string_view DISABLE_ADAPTER_SCRIPT =
    "Disable-NetAdapter -Name $env:VLX_ADAPTER -Confirm:$false -ErrorAction Stop";

inline constexpr std::string_view ADAPTER_VARIABLE = "VLX_ADAPTER";

// Fails with OsError and the rule's text unless `name` keeps the adapter-name rule. Names come from
// requests and from PowerShell's own listing; either way a name that breaks the rule is never
// handed to a cmdlet that might read it as a wildcard pattern.
[[nodiscard]] ActionResult<void> check_adapter_name_for_script(std::string_view name);

// Fails with ItemNotFound and the first of the names (`name_of` of each of `items`) that no adapter
// in `adapters` has. Checked before the first change, so that an unknown adapter changes nothing.
template <std::ranges::input_range Items, typename NameOf = std::identity>
[[nodiscard]] ActionResult<void> check_all_listed(std::span<const Row> adapters, const Items& items,
                                                  NameOf name_of = {}) {
    for (const auto& item : items) {
        const std::string& name = std::invoke(name_of, item);
        if (std::ranges::none_of(adapters, [&name](const Row& row) { return row.name == name; })) {
            return std::unexpected(ActionError::item_not_found(name));
        }
    }
    return {};
}

// Every physical adapter, in the order PowerShell lists them.
[[nodiscard]] ActionResult<std::vector<Row>> list_physical_adapters(ProgramRunner& runner);
// The physical adapters that are up and have at least one IPv4 DNS client entry.
[[nodiscard]] ActionResult<std::vector<std::string>> list_connected_adapters(ProgramRunner& runner);
[[nodiscard]] ActionResult<void> set_adapter_enabled(ProgramRunner& runner, std::string_view name,
                                                     bool enabled);

// Switches on every physical adapter that is off; returns their names in that order.
[[nodiscard]] ActionResult<std::vector<std::string>> perform(const request::EnableAdapters&,
                                                             ProgramRunner& runner);
// Switches off the named adapters in request order, after checking that all of them exist.
[[nodiscard]] ActionResult<void> perform(const request::DisableAdapters& request,
                                         ProgramRunner& runner);

} // namespace vemlox
