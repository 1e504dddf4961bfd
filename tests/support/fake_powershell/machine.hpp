// The simulated machine behind the stand-in PowerShell: network adapters with their status and DNS
// servers, and failures to inject, kept as JSON in a state file. Pure logic; main.cpp does the I/O.
//
// State file (every member optional except each adapter's "name"):
//   { "adapters": [ { "name": "Wi-Fi",
//                     "status": "Up",          "Up" (default), "Disabled" or "Down"
//                     "physical": true,        false hides it from Get-NetAdapter -Physical
//                     "link": true,            whether Enable brings it Up (true) or Down
//                     "ipv4": true,            whether it has an IPv4 DNS client entry
//                     "dns": ["192.168.1.1"],  its static DNS servers (the NameServer value)
//                     "dns_separator": "," }   how NameServer joins them ("," or " ")
//                 ],
//     "failures": [ { "script": "set_dns",     one of the script names
//                     "adapter": "Wi-Fi",      only when VLX_ADAPTER equals this exactly
//                     "stdout": "", "stderr": "  boom\r\n", "exit_code": 1 (the default),
//                     "times": 1,              used up after so many calls; default: never
//                     "sleep_ms": 5000 }       waits so long before answering
//                 ],
//     "output_code_page": "oem" }              prints in the OEM code page, as Windows PowerShell
//                                              does without a console; default: UTF-8 as it is
#pragma once

#include <cstdint>
#include <expected>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace vemlox::fake_powershell {

// What one run of a script prints and how it ends.
struct Outcome {
    std::string standard_output;
    std::string standard_error;
    std::uint32_t exit_code = 0;
    std::uint32_t sleep_ms = 0; // how long to wait before answering
};

// The two variables the scripts read; nullopt when the variable is not in the environment.
struct ScriptEnvironment {
    std::optional<std::string> adapter;
    std::optional<std::string> dns;
};

// The state file's text as a machine (an empty text is one without adapters). An unknown member or
// script name fails with what is wrong, so a typo in a test's state does not pass silently.
[[nodiscard]] std::expected<nlohmann::json, std::string> load_machine(std::string_view text);

// Runs the script of that name on `machine` as the real cmdlets would, or as an injected failure
// says; `machine` is left as the run leaves it.
[[nodiscard]] Outcome run_script(nlohmann::json& machine, std::string_view script,
                                 const ScriptEnvironment& environment);

} // namespace vemlox::fake_powershell
