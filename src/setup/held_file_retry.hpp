// Renames and deletions that another program's brief hold of a file refuses (a virus scanner, a
// backup or an indexing tool opening a new or renamed executable for a moment), tried again with
// growing pauses until they go through or their time is up.
#pragma once

#include "win32_shared/win32_result.hpp"

#include <chrono>
#include <cstdint>
#include <functional>

namespace vemlox::win {

// How long the renames and deletions of an install wait for a hold to end.
struct HoldWaits {
    // A rename or deletion of the update itself.
    std::chrono::milliseconds change{10'000};
    // A rename of the rollback, which puts an earlier file back or takes the new one away to make
    // room for it: it brings back a service that works, so it waits longest.
    std::chrono::milliseconds restore{30'000};
};

enum class FileChange { Rename, Delete };

// Whether `error` is what a hold of the file gives `change` for now: a sharing violation (the
// holder did not share deletion) or a lock violation; for a rename, also access denied. A
// deletion refused with access denied is not waited for: that is what deleting an executable a
// program runs from gives, for as long as the program runs, and what a read-only file gives.
[[nodiscard]] bool is_held(FileChange change, std::uint32_t error);

// The time a retry reads and the pause it takes; a test passes its own to run a schedule at once.
class RetryClock {
  public:
    virtual ~RetryClock() = default;
    [[nodiscard]] virtual std::chrono::steady_clock::time_point now() = 0;
    virtual void pause(std::chrono::milliseconds duration) = 0;
};

// The steady clock and a real pause.
[[nodiscard]] RetryClock& real_retry_clock();

// Tries `attempt` until it succeeds, fails in a way `is_held` does not call a hold, or `wait`
// has passed since the first try; the last try comes as `wait` ends. Returns the last outcome.
[[nodiscard]] Win32Result<void> retry_while_held(FileChange change,
                                                 const std::function<Win32Result<void>()>& attempt,
                                                 std::chrono::milliseconds wait,
                                                 RetryClock& clock = real_retry_clock());

} // namespace vemlox::win
