// A ProgramRunner for the operations' tests: answers from a queue and journals every run, so a test
// states the machine's answers and then checks exactly what ran, in which order, with which values.
#pragma once

#include "actions/dns_servers.hpp"
#include "actions/network_adapters.hpp"
#include "actions/program_runner.hpp"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <gtest/gtest.h>
#include <initializer_list>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace vemlox {

// A failed comparison of two results shows their values rather than their bytes.
template <typename T> void PrintTo(const ActionResult<T>& result, std::ostream* os) {
    if (!result) {
        *os << "error \"" << result.error().message() << '"';
    } else if constexpr (std::is_void_v<T>) {
        *os << "ok";
    } else {
        *os << testing::PrintToString(*result);
    }
}

// Failed results, so that a whole result is checked in one expectation.
inline std::unexpected<ActionError> os_failure(std::string text) {
    return std::unexpected(ActionError::os_error(std::move(text)));
}
inline std::unexpected<ActionError> not_found(std::string name) {
    return std::unexpected(ActionError::item_not_found(std::move(name)));
}
inline void PrintTo(const std::unexpected<ActionError>& failure, std::ostream* os) {
    *os << "error \"" << failure.error().message() << '"';
}

// One answer of the machine: a program's end as the runner reports it.
struct Exit {
    Exit(std::uint32_t code, std::string output = {}, std::string error = {})
        : exit{code, std::move(output), std::move(error)} {}
    ProgramOutcome exit;
};

// The arguments every PowerShell run starts with: no profile and no prompts in a privileged
// process.
inline const std::vector<std::string> POWERSHELL_OPTIONS{"-NoProfile", "-NonInteractive",
                                                         "-ExecutionPolicy", "Bypass", "-Command"};

class FakeProgramRunner : public ProgramRunner {
  public:
    FakeProgramRunner(std::initializer_list<Exit> exits = {}) { add(exits); }
    explicit FakeProgramRunner(const std::vector<Exit>& exits) { add(exits); }

    std::deque<ActionResult<ProgramOutcome>> answers;
    // One line per run: PowerShell's script by a short name when PowerShell got POWERSHELL_OPTIONS
    // and the script alone, other runs as the program and its arguments; then each environment pair
    // as NAME=value.
    std::vector<std::string> journal;

    ActionResult<ProgramOutcome> run(std::string_view program, std::span<const std::string> arguments,
                                  std::span<const EnvironmentPair> environment) override {
        std::string line(program);
        if (program == "powershell.exe" && arguments.size() == POWERSHELL_OPTIONS.size() + 1 &&
            std::ranges::equal(arguments.first(POWERSHELL_OPTIONS.size()), POWERSHELL_OPTIONS)) {
            line = script_name(arguments.back());
        } else {
            for (const std::string& argument : arguments) {
                line += ' ' + argument;
            }
        }
        for (const EnvironmentPair& pair : environment) {
            line += ' ' + pair.name + '=' + pair.value;
        }
        journal.push_back(std::move(line));
        if (answers.empty()) {
            // A run the test did not expect: fail loudly instead of pretending it worked.
            return std::unexpected(ActionError::os_error("unexpected run"));
        }
        auto answer = std::move(answers.front());
        answers.pop_front();
        return answer;
    }

  private:
    void add(const auto& exits) {
        for (const Exit& answer : exits) {
            answers.emplace_back(answer.exit);
        }
    }

    static std::string script_name(std::string_view script) {
        const std::pair<std::string_view, std::string_view> names[] = {
            {PHYSICAL_ADAPTERS_SCRIPT, "physical"},
            {CONNECTED_ADAPTERS_SCRIPT, "connected"},
            {ENABLE_ADAPTER_SCRIPT, "enable"},
            {DISABLE_ADAPTER_SCRIPT, "disable"},
            {READ_DNS_SCRIPT, "read"},
            {SET_DNS_SCRIPT, "set"}};
        for (const auto& [text, name] : names) {
            if (text == script) {
                return std::string(name);
            }
        }
        return std::string(script);
    }
};

} // namespace vemlox
