// The process entry of vemlox-service.exe: service host without arguments, "install" or
// "uninstall" from an administrator console.
#include "service_runtime/service_host.hpp"
#include "setup/command_line_args.hpp"
#include "setup/command_outcome.hpp"
#include "setup/install.hpp"
#include "setup/uninstall.hpp"
#include "win32_shared/console.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/wide.hpp"

#include <array>
#include <string>
#include <vector>
#include <windows.h>

namespace {

using vemlox::win::CommandOutcome;
using vemlox::win::ConsoleStream;
using vemlox::win::write_line;

constexpr UINT EXIT_SUCCEEDED = 0;
constexpr UINT EXIT_FAILED = 1;
constexpr UINT EXIT_UNKNOWN_COMMAND = 2;

// Blocks while the service runs. From a console the dispatcher cannot reach the Service Control
// Manager and fails, which is when the user is told what to do instead.
UINT run_service_host() {
    std::wstring service_name = vemlox::win::to_wide(vemlox::win::SERVICE_NAME);
    const std::array<SERVICE_TABLE_ENTRYW, 2> table{{
        {service_name.data(), &vemlox::win::service_entry},
        {nullptr, nullptr},
    }};
    if (StartServiceCtrlDispatcherW(table.data()) != 0) {
        return EXIT_SUCCEEDED;
    }
    write_line(ConsoleStream::Error,
               "This is a Windows service. To set it up, run as administrator:");
    write_line(ConsoleStream::Error, "  vemlox-service install");
    return EXIT_FAILED;
}

UINT report(const CommandOutcome& outcome) {
    if (outcome) {
        write_line(ConsoleStream::Output, *outcome);
        return EXIT_SUCCEEDED;
    }
    write_line(ConsoleStream::Error, outcome.error());
    return EXIT_FAILED;
}

UINT report(const vemlox::win::UninstallOutcome& outcome) {
    if (outcome) {
        write_line(ConsoleStream::Output, *outcome);
        return EXIT_SUCCEEDED;
    }
    write_line(ConsoleStream::Error, outcome.error().message);
    return outcome.error().exit_code;
}

// Only the first argument counts; anything after it is ignored.
UINT run(const std::vector<std::wstring>& arguments) {
    if (arguments.size() < 2) {
        return run_service_host();
    }
    const std::wstring& command = arguments[1];
    if (command == L"uninstall") {
        return report(vemlox::win::uninstall_command());
    }
    if (command == L"install") {
        return report(vemlox::win::install_command());
    }
    write_line(ConsoleStream::Error,
               "unknown command " + vemlox::win::to_utf8(command) + "; use install or uninstall");
    return EXIT_UNKNOWN_COMMAND;
}

} // namespace

int wmain() {
    // "install" runs elevated from wherever the user downloaded it. Before anything can load a
    // library, restrict the search to the system folder, so that a DLL planted beside the
    // download is never loaded into an administrator's process.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // The command line as Windows programs split it, not as the C runtime does.
    ExitProcess(run(vemlox::win::split_command_line(GetCommandLineW())));
}
