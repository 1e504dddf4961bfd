// An old service that is slow to stop, for the end-to-end tests: registered under the service's
// name and run by the Service Control Manager, it reports running; asked to stop, it writes a file
// "stopping" beside itself and reports stopped only once a file "release" appears there (or after
// four seconds). A test thus knows when an installer is inside its stop wait and decides when the
// wait ends.
// With a file "linger" beside it, it also does what Windows allows a service process: it creates
// the service's pipe name when it starts, and after its stopped report keeps its process, and the
// pipe with it, for three seconds more before it writes a file "exited" and ends.
#include "win32_shared/paths.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <string>
#include <windows.h>

namespace {

using namespace vemlox::win;

constexpr ULONGLONG MAX_STOP_DELAY_MS = 4000;
constexpr DWORD LINGER_MS = 3000;

UniqueHandle stop_requested;
SERVICE_STATUS_HANDLE status_handle = nullptr;

void report(DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWaitHint = state == SERVICE_STOP_PENDING ? 10000 : 0;
    (void)SetServiceStatus(status_handle, &status);
}

DWORD WINAPI handle_control(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) {
        report(SERVICE_STOP_PENDING);
        (void)SetEvent(stop_requested.get());
    }
    return NO_ERROR;
}

std::wstring beside_me(const wchar_t* name) {
    return join_path(parent_folder(running_executable_path().value_or(L"")), name);
}

void WINAPI service_main(DWORD, wchar_t**) {
    status_handle =
        RegisterServiceCtrlHandlerExW(to_wide(SERVICE_NAME).c_str(), handle_control, nullptr);
    if (status_handle == nullptr) {
        return;
    }
    report(SERVICE_RUNNING);
    (void)WaitForSingleObject(stop_requested.get(), INFINITE);
    (void)UniqueHandle(CreateFileW(beside_me(L"stopping").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::wstring release = beside_me(L"release");
    const ULONGLONG deadline = GetTickCount64() + MAX_STOP_DELAY_MS;
    while (GetFileAttributesW(release.c_str()) == INVALID_FILE_ATTRIBUTES &&
           GetTickCount64() < deadline) {
        Sleep(50);
    }
    report(SERVICE_STOPPED);
}

bool exists(const wchar_t* name) {
    return GetFileAttributesW(beside_me(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

int wmain() {
    stop_requested.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const bool lingers = exists(L"linger");
    UniqueHandle pipe;
    if (lingers) {
        pipe.reset(CreateNamedPipeW(
            L"\\\\.\\pipe\\vemlox", PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 16384, 16384, 0, nullptr));
    }
    std::wstring name = to_wide(SERVICE_NAME);
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), service_main}, {nullptr, nullptr}};
    const int exit_code = StartServiceCtrlDispatcherW(table) != 0 ? 0 : 1;
    if (lingers) {
        Sleep(LINGER_MS);
        pipe.reset();
        (void)UniqueHandle(CreateFileW(beside_me(L"exited").c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    return exit_code;
}
