// A ProgramRunner for the operations' tests: records every run and answers from a queue, so a
// test states the machine's answers and then checks exactly which programs ran, in which order.
#pragma once

#include "actions/program_runner.hpp"

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace vemlox {

struct RecordedRun {
    std::string program;
    std::vector<std::string> arguments;
    std::vector<std::pair<std::string, std::string>> environment;

    // PowerShell's script is its last argument.
    [[nodiscard]] std::string script() const { return arguments.empty() ? "" : arguments.back(); }
};

class FakeProgramRunner : public ProgramRunner {
  public:
    std::deque<ActionResult<ProgramExit>> answers;
    std::vector<RecordedRun> runs;

    void answer(std::uint32_t exit_code, std::string output = {}, std::string error = {}) {
        answers.emplace_back(ProgramExit{exit_code, std::move(output), std::move(error)});
    }
    void fail_to_run(ActionError error) { answers.emplace_back(std::unexpected(std::move(error))); }

    [[nodiscard]] std::vector<std::string> scripts() const {
        std::vector<std::string> result;
        for (const RecordedRun& run : runs) {
            result.push_back(run.script());
        }
        return result;
    }

    ActionResult<ProgramExit> run(std::string_view program, std::span<const std::string> arguments,
                                  std::span<const EnvironmentPair> environment) override {
        RecordedRun& recorded = runs.emplace_back();
        recorded.program = program;
        recorded.arguments.assign(arguments.begin(), arguments.end());
        for (const EnvironmentPair& pair : environment) {
            recorded.environment.emplace_back(pair.name, pair.value);
        }
        if (answers.empty()) {
            // A run the test did not expect: fail loudly instead of pretending it worked.
            return std::unexpected(ActionError::os_error("unexpected run"));
        }
        auto answer = std::move(answers.front());
        answers.pop_front();
        return answer;
    }
};

} // namespace vemlox
