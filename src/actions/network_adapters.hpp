// The machine's physical network adapters: listing them and switching them on and off through
// fixed PowerShell scripts. Adapters are known by name, and names are compared byte for byte.
#pragma once

#include "actions/action_error.hpp"
#include "actions/adapter_listing.hpp"
#include "actions/program_runner.hpp"
#include "protocol/request.hpp"

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

// Every physical adapter, in the order PowerShell lists them.
[[nodiscard]] ActionResult<std::vector<Row>> list_physical_adapters(ProgramRunner& runner);
// The physical adapters that are up and have at least one IPv4 DNS client entry.
[[nodiscard]] ActionResult<std::vector<std::string>> list_connected_adapters(ProgramRunner& runner);
[[nodiscard]] ActionResult<void> set_adapter_enabled(ProgramRunner& runner, std::string_view name,
                                                     bool enabled);

// Switches on every physical adapter that is off; returns their names in that order.
[[nodiscard]] ActionResult<std::vector<std::string>> enable_adapters(ProgramRunner& runner);
// Switches off the named adapters in request order, after checking that all of them exist.
[[nodiscard]] ActionResult<void> disable_adapters(ProgramRunner& runner,
                                                  std::span<const std::string> names);

} // namespace vemlox
