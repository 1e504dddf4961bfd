// A stand-in for Windows PowerShell in tests and the demo: it accepts only the argument list and
// the six script texts the service uses, answers from a simulated machine kept in
// "fake-powershell.json" beside it, and appends every call to "fake-powershell.journal.jsonl"
// beside it. Anything it does not expect is a clear message on standard error and exit code 1, so a
// fault shows in the tests. Journal entries: "script" (a script name, or null with "arguments" or
// "text" when refused), "VLX_ADAPTER" and "VLX_DNS" (null when not in the environment), "PATH",
// "cwd", "exit_code".
#include "machine.hpp"
#include "scripts.hpp"
#include "win32_shared/unique_handle.hpp"

#include <cwchar>
#include <nlohmann/json.hpp>
#include <shellapi.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

using vemlox::win::UniqueFile;
using namespace vemlox::fake_powershell;

std::string narrow(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// The text as Windows PowerShell prints it to a redirected stream when started without a console:
// in the OEM code page, each letter that code page lacks written as its default character ("?").
std::string in_oem_code_page(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int wide_size =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        wide_size);
    const UINT code_page = GetOEMCP();
    const int size =
        WideCharToMultiByte(code_page, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(code_page, 0, wide.data(), wide_size, out.data(), size, nullptr, nullptr);
    return out;
}

void write_all(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written == 0) {
            return;
        }
        bytes.remove_prefix(written);
    }
}

std::wstring own_folder() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// Reads a whole file; a missing file reads as empty text.
std::expected<std::string, std::string> read_file(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            return std::string();
        }
        return std::unexpected("cannot open " + narrow(path) + " (error " +
                               std::to_string(GetLastError()) + ")");
    }
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
        text.append(chunk, got);
    }
    return text;
}

void write_file(const std::wstring& path, std::string_view text, bool append) {
    UniqueFile file(CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                                FILE_SHARE_READ, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        write_all(file.get(), text);
    }
}

struct Variable {
    std::optional<std::string> value;
    int occurrences = 0;
};

// The child's view of one variable, and how often the environment block holds it in any letter
// case: Windows keeps duplicates, and the first one wins, so a runner that appends instead of
// replacing would go unnoticed without this count.
Variable read_variable(const wchar_t* name) {
    Variable variable;
    const std::size_t name_length = std::wcslen(name);
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
            if (std::wcslen(entry) > name_length && entry[name_length] == L'=' &&
                CompareStringOrdinal(entry, static_cast<int>(name_length), name,
                                     static_cast<int>(name_length), TRUE) == CSTR_EQUAL) {
                ++variable.occurrences;
            }
        }
        FreeEnvironmentStringsW(block);
    }
    std::wstring buffer(32768, L'\0');
    // An empty variable gives 0 like a missing one; only the error code tells them apart.
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
        buffer.resize(length);
        variable.value = narrow(buffer);
    }
    return variable;
}

nlohmann::json optional_json(const std::optional<std::string>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// The call is journaled before the wait, so a test can see it was made while the stand-in sleeps.
int finish(const std::wstring& journal_path, nlohmann::json entry, const Outcome& outcome,
           bool in_oem) {
    entry["exit_code"] = outcome.exit_code;
    write_file(journal_path,
               entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n", true);
    if (outcome.sleep_ms > 0) {
        Sleep(outcome.sleep_ms);
    }
    const auto printed = [in_oem](const std::string& text) {
        return in_oem ? in_oem_code_page(text) : text;
    };
    write_all(GetStdHandle(STD_OUTPUT_HANDLE), printed(outcome.standard_output));
    write_all(GetStdHandle(STD_ERROR_HANDLE), printed(outcome.standard_error));
    return static_cast<int>(outcome.exit_code);
}

int run() {
    const std::wstring folder = own_folder();
    const std::wstring state_path = folder + L"fake-powershell.json";
    const std::wstring journal_path = folder + L"fake-powershell.journal.jsonl";

    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> arguments;
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        arguments.push_back(narrow(argv[i]));
    }
    LocalFree(argv);

    const Variable adapter = read_variable(L"VLX_ADAPTER");
    const Variable dns = read_variable(L"VLX_DNS");
    // PATH and the current directory show where a lookup that wrongly used them would have
    // looked, so the tests can plant programs exactly there.
    std::wstring current(32768, L'\0');
    current.resize(GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data()));
    nlohmann::json entry = {{"script", nullptr},
                            {"VLX_ADAPTER", optional_json(adapter.value)},
                            {"VLX_DNS", optional_json(dns.value)},
                            {"PATH", optional_json(read_variable(L"PATH").value)},
                            {"cwd", narrow(current)}};

    const std::expected<std::string, std::string> state_text = read_file(state_path);
    std::expected<Machine, std::string> machine =
        state_text ? Machine::load(*state_text)
                   : std::expected<Machine, std::string>(std::unexpect, state_text.error());
    // Even a refusal is printed the way the machine prints.
    const bool in_oem = machine && machine->prints_in_oem_code_page();

    const std::vector<std::string> expected_head{"-NoProfile", "-NonInteractive",
                                                 "-ExecutionPolicy", "Bypass", "-Command"};
    if (arguments.size() != expected_head.size() + 1 ||
        !std::equal(expected_head.begin(), expected_head.end(), arguments.begin())) {
        entry["arguments"] = arguments;
        std::string shown;
        for (const std::string& argument : arguments) {
            shown += " [" + argument + "]";
        }
        return finish(journal_path, entry,
                      Outcome{"", "fake powershell: unexpected arguments:" + shown + "\r\n", 1},
                      in_oem);
    }
    const std::optional<KnownScript> script = find_script(arguments.back());
    if (!script) {
        entry["text"] = arguments.back();
        return finish(
            journal_path, entry,
            Outcome{"", "fake powershell: unknown script text: " + arguments.back() + "\r\n", 1},
            in_oem);
    }
    entry["script"] = script->name;
    if (adapter.occurrences > 1 || dns.occurrences > 1) {
        return finish(journal_path, entry,
                      Outcome{"",
                              "fake powershell: VLX_ADAPTER or VLX_DNS is in the environment "
                              "more than once\r\n",
                              1},
                      in_oem);
    }

    if (!machine) {
        return finish(
            journal_path, entry,
            Outcome{"", "fake powershell: bad state file: " + machine.error() + "\r\n", 1}, in_oem);
    }
    const Outcome outcome = machine->run(*script, ScriptEnvironment{adapter.value, dns.value});
    if (machine->changed()) {
        write_file(state_path, machine->save(), false);
    }
    return finish(journal_path, entry, outcome, in_oem);
}

} // namespace

int main() {
    return run();
}
