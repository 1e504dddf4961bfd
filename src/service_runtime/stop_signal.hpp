// The request to stop the service: a flag the serving loop reads between connections and an
// event that ends its wait for the next client at once.
#pragma once

#include "win32_shared/unique_handle.hpp"

#include <atomic>
#include <windows.h>

namespace vemlox::win {

class StopSignal {
  public:
    StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Safe from any thread, any number of times.
    void request_stop();
    [[nodiscard]] bool is_stopping() const { return stopping_.load(); }
    // Signalled once a stop was requested; null when the event could not be created, in which
    // case only the flag (and the control handler's wake-up connection) carries the stop.
    [[nodiscard]] HANDLE event() const { return event_.get(); }

  private:
    std::atomic<bool> stopping_{false};
    UniqueHandle event_;
};

} // namespace vemlox::win
