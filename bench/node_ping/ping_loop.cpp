// The C++ side of the Node client benchmark: COUNT sequential pings through the client library, each
// on a connection of its own with the library's server check, as an app makes them. A first ping,
// not counted, warms the paths both sides take. Prints "pings COUNT median M quick Q", in
// microseconds: M the median of the pings' own times, Q their 10th percentile (the pings that
// waited for no core). A ping that fails ends the run with its message. Usage: ping_loop COUNT
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>
#include <vemlox/client.hpp>
#include <windows.h>

namespace {

bool pinged(unsigned long index) {
    const auto result = vemlox::client::ping();
    if (!result) {
        std::fprintf(stderr, "ping_loop: ping %lu: %s\n", index, result.error().message.c_str());
        return false;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const unsigned long count = argc == 2 ? std::wcstoul(argv[1], nullptr, 10) : 0;
    if (count == 0) {
        std::fputs("usage: ping_loop COUNT (1 or more)\n", stderr);
        return 2;
    }
    if (!pinged(0)) {
        return 1;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> microseconds;
    microseconds.reserve(count);
    for (unsigned long i = 1; i <= count; ++i) {
        LARGE_INTEGER start;
        LARGE_INTEGER end;
        QueryPerformanceCounter(&start);
        if (!pinged(i)) {
            return 1;
        }
        QueryPerformanceCounter(&end);
        microseconds.push_back(static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 /
                               static_cast<double>(frequency.QuadPart));
    }
    std::sort(microseconds.begin(), microseconds.end());
    std::printf("pings %lu median %.0f quick %.0f\n", count, microseconds[count / 2],
                microseconds[count / 10]);
    return 0;
}
