// The yardstick for the service's pipe: a bare named-pipe server with the service's framing and
// nothing else (no caller check, no parsing, no log). It serves COUNT connections, one at a time,
// each the same way: wait for a client, read to the first line feed, write the 28-byte ping
// answer, flush, disconnect. Usage: bare_server PIPE_NAME COUNT [--check-caller] [--log FILE]
// The two options add, one at a time, the service's own per-connection costs that need no
// request parsing: identifying the client's executable, and appending a line to a log file opened
// and closed for that line. The benchmark runs them to show where the service's time goes.
#include "win/unique_handle.hpp"

#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>
#include <windows.h>

namespace {

constexpr std::string_view ANSWER = "{\"status\":\"ok\",\"version\":1}\n";
static_assert(ANSWER.size() == 28);

// Reads until the first line feed; false when the client went away first.
bool read_line(HANDLE pipe) {
    std::string line;
    char chunk[1024];
    while (line.find('\n') == std::string::npos) {
        DWORD got = 0;
        if (!ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) || got == 0) {
            return false;
        }
        line.append(chunk, got);
        if (line.size() > 16384) {
            return false;
        }
    }
    return true;
}

// What the service does to learn its caller: process id, open, image name.
bool identify_caller(HANDLE pipe) {
    ULONG pid = 0;
    if (!GetNamedPipeClientProcessId(pipe, &pid)) {
        return false;
    }
    vemlox::win::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
        return false;
    }
    wchar_t image[1024] = {};
    DWORD size = 1024;
    return QueryFullProcessImageNameW(process.get(), 0, image, &size) != FALSE;
}

// One log line as the service appends it: size check, open for append, one write, close.
void append_line(const wchar_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    (void)GetFileAttributesExW(path, GetFileExInfoStandard, &attributes);
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const ULONGLONG ticks = (ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    const std::string line =
        std::to_string((ticks - 116444736000000000ULL) / 10000000) + " ping: ok\n";
    vemlox::win::UniqueFile file(CreateFileW(path, 0x120114, 7, nullptr, OPEN_ALWAYS, 0, nullptr));
    if (file) {
        DWORD written = 0;
        (void)WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written,
                        nullptr);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: bare_server PIPE_NAME COUNT [--check-caller] [--log FILE]\n", stderr);
        return 2;
    }
    const unsigned long count = std::wcstoul(argv[2], nullptr, 10);
    bool check_caller = false;
    const wchar_t* log = nullptr;
    for (int i = 3; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--check-caller") == 0) {
            check_caller = true;
        } else if (std::wcscmp(argv[i], L"--log") == 0 && i + 1 < argc) {
            log = argv[++i];
        } else {
            std::fputs("bare_server: unknown option\n", stderr);
            return 2;
        }
    }
    // The service's pipe settings: duplex, first instance, byte mode, local clients, one instance.
    vemlox::win::UniqueFile pipe(CreateNamedPipeW(
        argv[1], PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 16384,
        16384, 0, nullptr));
    if (!pipe) {
        std::fprintf(stderr, "bare_server: create pipe: %lu\n", GetLastError());
        return 1;
    }
    std::puts("listening");
    std::fflush(stdout);
    for (unsigned long served = 0; served < count; ++served) {
        if (!ConnectNamedPipe(pipe.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
            DisconnectNamedPipe(pipe.get());
            continue;
        }
        if (check_caller) {
            (void)identify_caller(pipe.get());
        }
        if (read_line(pipe.get())) {
            if (log != nullptr) {
                append_line(log);
            }
            DWORD written = 0;
            (void)WriteFile(pipe.get(), ANSWER.data(), static_cast<DWORD>(ANSWER.size()), &written,
                            nullptr);
        }
        (void)FlushFileBuffers(pipe.get());
        (void)DisconnectNamedPipe(pipe.get());
    }
    return 0;
}
