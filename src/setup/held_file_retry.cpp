#include "setup/held_file_retry.hpp"

#include <algorithm>
#include <windows.h>

namespace vemlox::win {

namespace {

using std::chrono::milliseconds;

// A scanner's look at a file usually ends within tens of milliseconds, so the first pause is
// short; doubling finds longer holds with few tries, and the cap keeps a hold that ends late
// from costing more than half a second beyond its end.
constexpr milliseconds FIRST_PAUSE{50};
constexpr milliseconds LONGEST_PAUSE{500};

// The pause after the `refusals`th refused try.
milliseconds pause_after(unsigned refusals) {
    milliseconds pause = FIRST_PAUSE;
    for (unsigned doubled = 1; doubled < refusals && pause < LONGEST_PAUSE; ++doubled) {
        pause *= 2;
    }
    return std::min(pause, LONGEST_PAUSE);
}

class RealRetryClock final : public RetryClock {
  public:
    std::chrono::steady_clock::time_point now() override {
        return std::chrono::steady_clock::now();
    }
    void pause(milliseconds duration) override { Sleep(static_cast<DWORD>(duration.count())); }
};

} // namespace

bool is_held(FileChange change, std::uint32_t error) {
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return true;
    case ERROR_ACCESS_DENIED:
        return change == FileChange::Rename;
    default:
        return false;
    }
}

RetryClock& real_retry_clock() {
    static RealRetryClock clock;
    return clock;
}

Win32Result<void> retry_while_held(FileChange change,
                                   const std::function<Win32Result<void>()>& attempt,
                                   milliseconds wait, RetryClock& clock) {
    const auto deadline = clock.now() + wait;
    for (unsigned refusals = 1;; ++refusals) {
        Win32Result<void> outcome = attempt();
        if (outcome || !is_held(change, outcome.error())) {
            return outcome;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - clock.now());
        if (left <= milliseconds::zero()) {
            return outcome;
        }
        clock.pause(std::min(pause_after(refusals), left));
    }
}

} // namespace vemlox::win
