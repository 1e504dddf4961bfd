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
//     "failures": [ { "script": "set_dns",     one of the six script names
//                     "adapter": "Wi-Fi",      only when VLX_ADAPTER equals this exactly
//                     "stderr": "  boom\r\n",  written as it is; so is "stdout"
//                     "exit_code": 1,          default 1
//                     "times": 1,              used up after so many calls; default: never
//                     "sleep_ms": 5000 }       waits so long before answering; default 0
//                 ],
//     "output_code_page": "oem" }              "oem": everything written to standard output and
//                                              standard error is converted from UTF-8 to the OEM
//                                              code page (GetOEMCP), as Windows PowerShell prints
//                                              when started without a console; "utf-8" (default):
//                                              written as it is
#pragma once

#include "scripts.hpp"

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

class Machine {
  public:
    // An empty text is a machine without adapters. Fails with a description of what is wrong.
    [[nodiscard]] static std::expected<Machine, std::string> load(std::string_view state_text);

    // Runs one script as the real cmdlets would, or as an injected failure says.
    [[nodiscard]] Outcome run(const KnownScript& script, const ScriptEnvironment& environment);

    [[nodiscard]] bool changed() const { return changed_; }
    [[nodiscard]] bool prints_in_oem_code_page() const;
    [[nodiscard]] std::string save() const;

  private:
    explicit Machine(nlohmann::json state) : state_(std::move(state)) {}

    [[nodiscard]] std::optional<Outcome>
    take_injected_failure(std::string_view script_name, const ScriptEnvironment& environment);
    [[nodiscard]] Outcome list_physical() const;
    [[nodiscard]] Outcome list_connected() const;
    [[nodiscard]] Outcome set_enabled(const KnownScript& script,
                                      const ScriptEnvironment& environment, bool enabled);
    [[nodiscard]] Outcome read_dns(const KnownScript& script,
                                   const ScriptEnvironment& environment) const;
    [[nodiscard]] Outcome set_dns(const KnownScript& script, const ScriptEnvironment& environment);

    // The adapter whose name equals `name` ignoring case, as Windows compares interface names
    // (only ASCII letters fold here).
    [[nodiscard]] nlohmann::json* find_adapter(std::string_view name);
    [[nodiscard]] const nlohmann::json* find_adapter(std::string_view name) const;

    nlohmann::json state_;
    bool changed_ = false;
};

} // namespace vemlox::fake_powershell
