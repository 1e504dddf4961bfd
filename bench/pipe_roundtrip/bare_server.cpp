// The yardstick for the service's pipe: a bare named-pipe server with the service's framing and
// nothing else (no caller check, no parsing, no log). It serves COUNT connections, one at a time,
// each the same way: wait for a client, read to the first line feed, write the 28-byte ping
// answer, flush, disconnect.
//   Usage: bare_server PIPE_NAME COUNT [--check-caller] [--log FILE] [--overlapped] [--timed-flush]
// The options add, one at a time, the service's own per-connection costs that need no request
// parsing, so that the benchmark can show where the service's time goes: identifying the client's
// executable; appending a log line to a file opened and closed for it; waiting for the client and
// its bytes through overlapped I/O and events (which lets a stop or a deadline end any wait); and
// a flush bounded by a thread-pool timer armed and disarmed around it.
#include "win32_shared/unique_handle.hpp"

#include <array>
#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>
#include <windows.h>

namespace {

using vemlox::win::UniqueHandle;

constexpr std::string_view ANSWER = "{\"status\":\"ok\",\"version\":1}\n";
static_assert(ANSWER.size() == 28);
constexpr DWORD DEADLINE_MS = 10000;

struct Options {
    bool check_caller = false;
    const wchar_t* log = nullptr;
    bool overlapped = false;
    bool timed_flush = false;
};

// Synchronous or overlapped I/O on the one pipe, as the options say.
class Pipe {
  public:
    Pipe(HANDLE pipe, bool overlapped)
        : pipe_(pipe), overlapped_(overlapped),
          event_(overlapped ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr),
          stop_(overlapped ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr) {}

    bool connect() {
        if (!overlapped_) {
            return ConnectNamedPipe(pipe_, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.get();
        if (ConnectNamedPipe(pipe_, &overlapped)) {
            return true;
        }
        const DWORD code = GetLastError();
        if (code == ERROR_PIPE_CONNECTED) {
            return true;
        }
        if (code != ERROR_IO_PENDING) {
            return false;
        }
        const std::array<HANDLE, 2> waits{stop_.get(), event_.get()};
        if (WaitForMultipleObjects(2, waits.data(), FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            CancelIoEx(pipe_, &overlapped);
        }
        DWORD unused = 0;
        return GetOverlappedResult(pipe_, &overlapped, &unused, TRUE) != FALSE;
    }

    DWORD read(char* buffer, DWORD size) {
        DWORD got = 0;
        if (!overlapped_) {
            return ReadFile(pipe_, buffer, size, &got, nullptr) ? got : 0;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.get();
        if (!ReadFile(pipe_, buffer, size, nullptr, &overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            return 0;
        }
        return finish(overlapped) ? transferred_ : 0;
    }

    void write(std::string_view bytes) {
        if (!overlapped_) {
            DWORD written = 0;
            (void)WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                            nullptr);
            return;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.get();
        if (WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                      &overlapped) ||
            GetLastError() == ERROR_IO_PENDING) {
            (void)finish(overlapped);
        }
    }

  private:
    bool finish(OVERLAPPED& overlapped) {
        if (WaitForSingleObject(overlapped.hEvent, DEADLINE_MS) != WAIT_OBJECT_0) {
            CancelIoEx(pipe_, &overlapped);
        }
        transferred_ = 0;
        return GetOverlappedResult(pipe_, &overlapped, &transferred_, TRUE) != FALSE;
    }

    HANDLE pipe_;
    bool overlapped_;
    UniqueHandle event_;
    UniqueHandle stop_;
    DWORD transferred_ = 0;
};

// A flush that a thread-pool timer would cancel after the deadline; the timer is armed before
// and disarmed (waiting for any callback) after, as a bounded flush must.
class TimedFlush {
  public:
    TimedFlush() : timer_(CreateThreadpoolTimer(&TimedFlush::expired, nullptr, nullptr)) {}
    ~TimedFlush() {
        if (timer_ != nullptr) {
            CloseThreadpoolTimer(timer_);
        }
    }
    TimedFlush(const TimedFlush&) = delete;
    TimedFlush& operator=(const TimedFlush&) = delete;

    void flush(HANDLE pipe) {
        const auto due = static_cast<ULONGLONG>(-static_cast<LONGLONG>(DEADLINE_MS) * 10000);
        FILETIME due_time{static_cast<DWORD>(due & 0xFFFFFFFFu), static_cast<DWORD>(due >> 32)};
        SetThreadpoolTimer(timer_, &due_time, 50, 0);
        (void)FlushFileBuffers(pipe);
        SetThreadpoolTimer(timer_, nullptr, 0, 0);
        WaitForThreadpoolTimerCallbacks(timer_, TRUE);
    }

  private:
    static void CALLBACK expired(PTP_CALLBACK_INSTANCE, PVOID, PTP_TIMER) {}
    PTP_TIMER timer_;
};

// Reads until the first line feed; false when the client went away first.
bool read_line(Pipe& pipe) {
    std::string line;
    char chunk[1024];
    while (line.find('\n') == std::string::npos) {
        const DWORD got = pipe.read(chunk, sizeof chunk);
        if (got == 0) {
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
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
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
    UniqueHandle file(CreateFileW(path, 0x120114, 7, nullptr, OPEN_ALWAYS, 0, nullptr));
    if (file) {
        DWORD written = 0;
        (void)WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written,
                        nullptr);
    }
}

bool parse_options(int argc, wchar_t** argv, Options& options) {
    for (int i = 3; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--check-caller") == 0) {
            options.check_caller = true;
        } else if (std::wcscmp(argv[i], L"--log") == 0 && i + 1 < argc) {
            options.log = argv[++i];
        } else if (std::wcscmp(argv[i], L"--overlapped") == 0) {
            options.overlapped = true;
        } else if (std::wcscmp(argv[i], L"--timed-flush") == 0) {
            options.timed_flush = true;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (argc < 3 || !parse_options(argc, argv, options)) {
        std::fputs("usage: bare_server PIPE_NAME COUNT [--check-caller] [--log FILE] "
                   "[--overlapped] [--timed-flush]\n",
                   stderr);
        return 2;
    }
    const unsigned long count = std::wcstoul(argv[2], nullptr, 10);
    // The service's pipe settings: duplex, first instance, byte mode, local clients, one instance.
    UniqueHandle handle(CreateNamedPipeW(argv[1],
                                       PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE |
                                           (options.overlapped ? FILE_FLAG_OVERLAPPED : 0),
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT |
                                           PIPE_REJECT_REMOTE_CLIENTS,
                                       1, 16384, 16384, 0, nullptr));
    if (!handle) {
        std::fprintf(stderr, "bare_server: create pipe: %lu\n", GetLastError());
        return 1;
    }
    Pipe pipe(handle.get(), options.overlapped);
    TimedFlush timed_flush;
    std::puts("listening");
    std::fflush(stdout);
    for (unsigned long served = 0; served < count; ++served) {
        if (!pipe.connect()) {
            DisconnectNamedPipe(handle.get());
            continue;
        }
        if (options.check_caller) {
            (void)identify_caller(handle.get());
        }
        if (read_line(pipe)) {
            if (options.log != nullptr) {
                append_line(options.log);
            }
            pipe.write(ANSWER);
        }
        if (options.timed_flush) {
            timed_flush.flush(handle.get());
        } else {
            (void)FlushFileBuffers(handle.get());
        }
        (void)DisconnectNamedPipe(handle.get());
    }
    return 0;
}
