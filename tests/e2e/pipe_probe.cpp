// A misbehaving pipe peer for the end-to-end tests, doing what the well-behaved client never does:
//   pipe_probe silent        connect, send nothing, then print whatever response arrives
//   pipe_probe unread        connect, send a ping request, never read; hold until stdin ends
//   pipe_probe close         connect and close at once
//   pipe_probe squat         create the service's pipe name first and hold it until stdin ends
//   pipe_probe idle          touch nothing, run until stdin ends (an app running while updated)
//   pipe_probe hold PATH     open PATH for reading, sharing only reading, and hold it until stdin
//                            ends (a scanner or a user reading an installed file)
//   pipe_probe rename A B    rename A to B as an installer would (MoveFileExW), and say "renamed"
//   or
//                            "rename failed: " and the error (a check that a hold holds)
//   pipe_probe service       open the service "vemlox" and hold the handle until stdin ends (the
//                            Services console showing it)
// Each prints one progress word ("connected", "sent", "closed", "holding" followed by its process
// id, "running") as soon as it is there, so a test can wait for it. No mode runs longer than two
// minutes.
#include "win32_shared/unique_handle.hpp"

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <windows.h>

namespace {

using vemlox::win::UniqueHandle;

constexpr const wchar_t* PIPE = L"\\\\.\\pipe\\vemlox";

void say(std::string_view text) {
    DWORD written = 0;
    const std::string line = std::string(text) + "\n";
    (void)WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()),
                    &written, nullptr);
}

void wait_for_stdin_end() {
    char buffer[64];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) &&
           got > 0) {
    }
}

UniqueHandle connect() {
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (true) {
        UniqueHandle pipe(
            CreateFileW(PIPE, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (pipe || GetLastError() != ERROR_PIPE_BUSY || GetTickCount64() >= deadline) {
            return pipe;
        }
        (void)WaitNamedPipeW(PIPE, 1000);
    }
}

int fail(std::string_view what) {
    say(std::string(what) + " failed: " + std::to_string(GetLastError()));
    return 1;
}

int silent() {
    UniqueHandle pipe = connect();
    if (!pipe) {
        return fail("connect");
    }
    say("connected");
    std::string received;
    char chunk[1024];
    DWORD got = 0;
    while (received.find('\n') == std::string::npos &&
           ReadFile(pipe.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
        received.append(chunk, got);
    }
    say("response: " + received.substr(0, received.find('\n')));
    return received.empty() ? 1 : 0;
}

int unread() {
    UniqueHandle pipe = connect();
    if (!pipe) {
        return fail("connect");
    }
    const std::string bytes = "{\"op\":\"ping\"}\n";
    DWORD written = 0;
    if (!WriteFile(pipe.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        return fail("write");
    }
    say("sent");
    wait_for_stdin_end();
    return 0;
}

int close_at_once() {
    UniqueHandle pipe = connect();
    if (!pipe) {
        return fail("connect");
    }
    pipe.reset();
    say("closed");
    return 0;
}

int squat() {
    UniqueHandle pipe(CreateNamedPipeW(PIPE, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 16384,
                                       16384, 0, nullptr));
    if (!pipe) {
        return fail("create pipe");
    }
    say("holding " + std::to_string(GetCurrentProcessId()));
    wait_for_stdin_end();
    return 0;
}

int hold_file(const wchar_t* path) {
    UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return fail("open");
    }
    say("holding " + std::to_string(GetCurrentProcessId()));
    wait_for_stdin_end();
    return 0;
}

int rename(const wchar_t* from, const wchar_t* to) {
    if (!MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH)) {
        return fail("rename");
    }
    say("renamed");
    return 0;
}

int hold_service() {
    const vemlox::win::UniqueServiceHandle manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const vemlox::win::UniqueServiceHandle service(
        manager ? OpenServiceW(manager.get(), L"vemlox", SERVICE_QUERY_STATUS) : nullptr);
    if (!service) {
        return fail("open service");
    }
    say("holding " + std::to_string(GetCurrentProcessId()));
    wait_for_stdin_end();
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::minutes(2));
        ExitProcess(3);
    }).detach();
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"silent" && argc == 2) {
        return silent();
    }
    if (mode == L"unread" && argc == 2) {
        return unread();
    }
    if (mode == L"close" && argc == 2) {
        return close_at_once();
    }
    if (mode == L"squat" && argc == 2) {
        return squat();
    }
    if (mode == L"hold" && argc == 3) {
        return hold_file(argv[2]);
    }
    if (mode == L"rename" && argc == 4) {
        return rename(argv[2], argv[3]);
    }
    if (mode == L"service" && argc == 2) {
        return hold_service();
    }
    if (mode == L"idle" && argc == 2) {
        say("running");
        wait_for_stdin_end();
        return 0;
    }
    say("usage: pipe_probe silent | unread | close | squat | idle | hold PATH | rename A B | "
        "service");
    return 2;
}
