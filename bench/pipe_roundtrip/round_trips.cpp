// The load for the pipe benchmark: COUNT sequential ping round trips, each on a connection of its
// own as the client makes them (open with identification-only impersonation, waiting while the
// single instance is busy; write the request line; read the answer to its line feed; close).
// Prints "round_trips COUNT seconds S rate R busy B quick Q median M": B is how many opens found
// the pipe busy, Q and M the 10th percentile and the median of the trips' own times in
// microseconds. On a busy machine most trips wait for a core somewhere; the quick trips are the
// ones that did not, so Q shows the server's own cost best. Any answer other than the ping answer
// is an error. Usage: round_trips PIPE_NAME COUNT
#include "win32_shared/unique_handle.hpp"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>
#include <windows.h>

namespace {

constexpr std::string_view REQUEST = "{\"op\":\"ping\"}\n";
constexpr std::string_view ANSWER = "{\"status\":\"ok\",\"version\":1}";

struct Trip {
    bool ok = false;
    unsigned busy = 0;
};

Trip round_trip(const wchar_t* name) {
    Trip trip;
    vemlox::win::UniqueHandle pipe;
    while (true) {
        pipe.reset(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        if (pipe || GetLastError() != ERROR_PIPE_BUSY || trip.busy > 10000) {
            break;
        }
        ++trip.busy;
        (void)WaitNamedPipeW(name, 5000);
    }
    if (!pipe) {
        return trip;
    }
    DWORD written = 0;
    if (!WriteFile(pipe.get(), REQUEST.data(), static_cast<DWORD>(REQUEST.size()), &written,
                   nullptr)) {
        return trip;
    }
    std::string line;
    char chunk[1024];
    while (line.find('\n') == std::string::npos) {
        DWORD got = 0;
        if (!ReadFile(pipe.get(), chunk, sizeof chunk, &got, nullptr) || got == 0) {
            return trip;
        }
        line.append(chunk, got);
    }
    trip.ok = line.substr(0, line.find('\n')) == ANSWER;
    return trip;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: round_trips PIPE_NAME COUNT\n", stderr);
        return 2;
    }
    const unsigned long count = std::wcstoul(argv[2], nullptr, 10);
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceFrequency(&frequency);
    if (count == 0) {
        std::fputs("round_trips: COUNT must be at least 1\n", stderr);
        return 2;
    }
    unsigned long busy = 0;
    std::vector<LONGLONG> trip_ticks;
    trip_ticks.reserve(count);
    QueryPerformanceCounter(&start);
    LARGE_INTEGER trip_start = start;
    for (unsigned long i = 0; i < count; ++i) {
        const Trip trip = round_trip(argv[1]);
        busy += trip.busy;
        if (!trip.ok) {
            std::fprintf(stderr, "round_trips: trip %lu failed (error %lu)\n", i, GetLastError());
            return 1;
        }
        LARGE_INTEGER trip_end;
        QueryPerformanceCounter(&trip_end);
        trip_ticks.push_back(trip_end.QuadPart - trip_start.QuadPart);
        trip_start = trip_end;
    }
    end = trip_start;
    const auto frequency_value = static_cast<double>(frequency.QuadPart);
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency_value;
    std::sort(trip_ticks.begin(), trip_ticks.end());
    const auto microseconds = [&](std::size_t index) {
        return static_cast<double>(trip_ticks[index]) * 1e6 / frequency_value;
    };
    std::printf("round_trips %lu seconds %.4f rate %.1f busy %lu quick %.0f median %.0f\n", count,
                seconds, static_cast<double>(count) / seconds, busy, microseconds(count / 10),
                microseconds(count / 2));
    return 0;
}
