// The DNS servers of the connected adapters: switching them to the public servers and putting
// back what they had, through fixed PowerShell scripts.
#pragma once

#include "actions/action_error.hpp"
#include "actions/program_runner.hpp"
#include "protocol/request.hpp"

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace vemlox {

inline constexpr std::array<Ipv4Address, 2> PUBLIC_DNS_SERVERS{
    Ipv4Address{{1, 1, 1, 1}},
    Ipv4Address{{8, 8, 8, 8}},
};

// Reads the statically configured servers only: servers a DHCP server handed out are not in the
// NameServer value, so an adapter on automatic servers reads as an empty list.
inline constexpr std::string_view READ_DNS_SCRIPT =
    "$g = (Get-NetAdapter -Name $env:VLX_ADAPTER -ErrorAction Stop).InterfaceGuid; "
    "(Get-ItemProperty -Path "
    "('HKLM:\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\' + $g) -Name "
    "NameServer -ErrorAction SilentlyContinue).NameServer";
// An empty VLX_DNS takes the reset branch: back to automatic servers.
inline constexpr std::string_view SET_DNS_SCRIPT =
    "if ($env:VLX_DNS) { Set-DnsClientServerAddress -InterfaceAlias $env:VLX_ADAPTER "
    "-ServerAddresses ($env:VLX_DNS -split ',') -ErrorAction Stop } else { "
    "Set-DnsClientServerAddress -InterfaceAlias $env:VLX_ADAPTER -ResetServerAddresses "
    "-ErrorAction Stop }";

inline constexpr std::string_view DNS_VARIABLE = "VLX_DNS";
inline constexpr std::size_t MAX_READ_DNS_SERVERS = 4;

// The addresses in the read script's output: pieces cut at commas, spaces, CR and LF, each trimmed
// and kept when it is a strict dotted-decimal IPv4 address; at most the first four.
[[nodiscard]] std::vector<Ipv4Address> parse_name_servers(std::string_view output);

[[nodiscard]] ActionResult<std::vector<Ipv4Address>> read_adapter_dns(ProgramRunner& runner,
                                                                      std::string_view adapter);
// An empty `servers` resets the adapter to automatic servers.
[[nodiscard]] ActionResult<void> set_adapter_dns(ProgramRunner& runner, std::string_view adapter,
                                                 std::span<const Ipv4Address> servers);

// Switches every connected adapter not yet on PUBLIC_DNS_SERVERS to them; returns what each had
// before, in processing order. When a read or a set fails, the adapters already switched are put
// back.
[[nodiscard]] ActionResult<std::vector<DnsSetting>> perform(const request::UsePublicDns&,
                                                            ProgramRunner& runner);
// Puts the given servers back, after checking that every adapter exists.
[[nodiscard]] ActionResult<void> perform(const request::RestoreDns& request, ProgramRunner& runner);

} // namespace vemlox
