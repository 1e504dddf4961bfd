#include "service_runtime/stop_signal.hpp"

namespace vemlox::win {

// Manual reset: once set it stays set, so every later wait sees it too.
StopSignal::StopSignal() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void StopSignal::request_stop() {
    static_cast<void>(stopping_.exchange(true));
    if (event_) {
        SetEvent(event_.get());
    }
}

} // namespace vemlox::win
