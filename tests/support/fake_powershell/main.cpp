// A stand-in for Windows PowerShell in tests and the demo: it accepts only the argument list and
// the script texts the service uses, answers from a simulated machine kept in
// "fake-powershell.json" beside it, and appends every call to "fake-powershell.journal.jsonl"
// beside it. Anything it does not expect is a clear message on standard error and exit code 1, so a
// fault shows in the tests. Journal entries: "script" (a script name, or null with "arguments" or
// "text" when refused), "VLX_ADAPTER" and "VLX_DNS" (null when not in the environment), "PATH",
// "PSModulePath", "exit_code".
#include "machine.hpp"
#include "scripts.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/wide.hpp"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace vemlox::fake_powershell;
using nlohmann::json;

// The text as Windows PowerShell prints it to a redirected stream when started without a console:
// in the OEM code page, each letter that code page lacks written as its default character ("?").
std::string in_oem_code_page(std::string_view utf8) {
    const std::wstring wide = vemlox::win::to_wide(utf8);
    const int wide_size = static_cast<int>(wide.size());
    const int size =
        WideCharToMultiByte(GetOEMCP(), 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(GetOEMCP(), 0, wide.data(), wide_size, out.data(), size, nullptr, nullptr);
    return out;
}

void write_all(DWORD stream, std::string_view bytes) {
    DWORD written = 0;
    while (!bytes.empty() &&
           WriteFile(GetStdHandle(stream), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written > 0) {
        bytes.remove_prefix(written);
    }
}

// The child's view of one variable; an empty one is still there, unlike a missing one.
json read_variable(const wchar_t* name) {
    std::wstring buffer(32768, L'\0');
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        return nullptr;
    }
    buffer.resize(length);
    return vemlox::win::to_utf8(buffer);
}

std::vector<std::string> arguments() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> arguments;
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        arguments.push_back(vemlox::win::to_utf8(argv[i]));
    }
    LocalFree(argv);
    return arguments;
}

// The call is journaled before the wait, so a test can see it was made while the stand-in sleeps.
int finish(const std::filesystem::path& journal, json entry, const Outcome& outcome, bool in_oem) {
    entry["exit_code"] = outcome.exit_code;
    std::ofstream(journal, std::ios::binary | std::ios::app)
        << entry.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
    Sleep(outcome.sleep_ms);
    write_all(STD_OUTPUT_HANDLE,
              in_oem ? in_oem_code_page(outcome.standard_output) : outcome.standard_output);
    write_all(STD_ERROR_HANDLE,
              in_oem ? in_oem_code_page(outcome.standard_error) : outcome.standard_error);
    return static_cast<int>(outcome.exit_code);
}

Outcome refusal(const std::string& why) {
    return Outcome{"", "fake powershell: " + why + "\r\n", 1};
}

int run() {
    const std::filesystem::path folder =
        vemlox::win::parent_folder(vemlox::win::running_executable_path().value_or(L""));
    const std::filesystem::path state_path = folder / "fake-powershell.json";
    const std::filesystem::path journal = folder / "fake-powershell.journal.jsonl";

    // PATH shows where a lookup that wrongly used it would have looked, so the tests can plant
    // programs exactly there; PATH and PSModulePath show where PowerShell would load code from.
    json entry = {{"script", nullptr},
                  {"VLX_ADAPTER", read_variable(L"VLX_ADAPTER")},
                  {"VLX_DNS", read_variable(L"VLX_DNS")},
                  {"PATH", read_variable(L"PATH")},
                  {"PSModulePath", read_variable(L"PSModulePath")}};

    const std::vector<std::string> given = arguments();
    const std::vector<std::string> expected_head{"-NoProfile", "-NonInteractive",
                                                 "-ExecutionPolicy", "Bypass", "-Command"};
    if (given.size() != expected_head.size() + 1 ||
        !std::equal(expected_head.begin(), expected_head.end(), given.begin())) {
        entry["arguments"] = given;
        return finish(journal, entry, refusal("unexpected arguments: " + json(given).dump()),
                      false);
    }
    const std::optional<KnownScript> script = find_script(given.back());
    if (!script) {
        entry["text"] = given.back();
        return finish(journal, entry, refusal("unknown script text: " + given.back()), false);
    }
    entry["script"] = script->name;

    std::ifstream state_file(state_path, std::ios::binary);
    std::expected<json, std::string> machine =
        load_machine(std::string(std::istreambuf_iterator<char>(state_file), {}));
    if (!machine) {
        return finish(journal, entry, refusal("bad state file: " + machine.error()), false);
    }
    const auto variable = [&entry](const char* name) {
        return entry[name].is_null() ? std::nullopt : std::optional(entry[name].get<std::string>());
    };
    const ScriptEnvironment environment{variable("VLX_ADAPTER"), variable("VLX_DNS")};
    const Outcome outcome = run_script(*machine, script->name, environment);
    state_file.close();
    std::ofstream(state_path, std::ios::binary) << machine->dump(2) << "\n";
    return finish(journal, entry, outcome, machine->value("output_code_page", "") == "oem");
}

} // namespace

int main() {
    try {
        return run();
    } catch (const std::exception& error) {
        // A member of the wrong type in a test's state file.
        write_all(STD_ERROR_HANDLE, std::string("fake powershell: ") + error.what() + "\r\n");
        return 1;
    }
}
