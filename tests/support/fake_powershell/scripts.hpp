// The script texts the service may hand to PowerShell, byte for byte, each with the short name
// the stand-in uses in its journal and in its failure injections. Kept apart from the service's own
// copies on purpose: a script text changed in the service no longer matches and fails the tests.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace vemlox::fake_powershell {

struct KnownScript {
    std::string_view name;
    std::string_view text;
};

inline constexpr std::array<KnownScript, 6> KNOWN_SCRIPTS{{
    {"list_physical",
     "ConvertTo-Json -Compress -InputObject @(Get-NetAdapter -Physical -ErrorAction "
     "SilentlyContinue | ForEach-Object { @{ name = [string]$_.Name; disabled = "
     "[bool]($_.Status -eq 'Disabled') } })"},
    {"list_connected",
     "ConvertTo-Json -Compress -InputObject @(Get-NetAdapter -Physical -ErrorAction "
     "SilentlyContinue | Where-Object { $_.Status -eq 'Up' -and (Get-DnsClientServerAddress "
     "-InterfaceIndex $_.ifIndex -AddressFamily IPv4 -ErrorAction SilentlyContinue) } | "
     "ForEach-Object { [string]$_.Name })"},
    {"enable", "Enable-NetAdapter -Name $env:VLX_ADAPTER -Confirm:$false -ErrorAction Stop"},
    {"disable", "Disable-NetAdapter -Name $env:VLX_ADAPTER -Confirm:$false -ErrorAction Stop"},
    {"read_dns",
     "$g = (Get-NetAdapter -Name $env:VLX_ADAPTER -ErrorAction Stop).InterfaceGuid; "
     "(Get-ItemProperty -Path "
     "('HKLM:\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\' + $g) "
     "-Name NameServer -ErrorAction SilentlyContinue).NameServer"},
    {"set_dns", "if ($env:VLX_DNS) { Set-DnsClientServerAddress -InterfaceAlias $env:VLX_ADAPTER "
                "-ServerAddresses ($env:VLX_DNS -split ',') -ErrorAction Stop } else { "
                "Set-DnsClientServerAddress -InterfaceAlias $env:VLX_ADAPTER -ResetServerAddresses "
                "-ErrorAction Stop }"},
}};

[[nodiscard]] inline std::optional<KnownScript> find_script(std::string_view text) {
    for (const KnownScript& known : KNOWN_SCRIPTS) {
        if (known.text == text) {
            return known;
        }
    }
    return std::nullopt;
}

} // namespace vemlox::fake_powershell
