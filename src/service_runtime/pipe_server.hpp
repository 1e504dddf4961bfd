// The service's only door: one named pipe, one client at a time, one request line and one
// response line per connection, and one log line for each.
#pragma once

#include "actions/machine_access.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/wide.hpp"

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>

namespace vemlox::win {

class StopSignal;

// As constructed, the product's pipe "\\.\pipe\vemlox" with ten-second deadlines.
struct PipeServerSettings {
    std::wstring pipe_name = to_wide(PIPE_NAME);
    // A client that has not sent its whole request line this long after connecting is refused
    // as incomplete, so a silent client cannot hold the only pipe instance.
    std::chrono::milliseconds request_deadline{10000};
    // A client that has not taken its response this long after it was written is disconnected.
    std::chrono::milliseconds response_deadline{10000};
};

// The setup step that failed ("security descriptor", "create pipe", "create event" or "flush
// timer") and the Windows error code it failed with.
struct PipeSetupError {
    std::string_view step;
    std::uint32_t code;

    // "create pipe: 5", as the log shows it.
    [[nodiscard]] std::string text() const;
};

// Called once the pipe is set up, before the first wait for a client; serving goes on only when
// it returns true.
using OnServing = std::function<bool()>;

// Serves clients until `stop` is requested, then returns success after the current request has
// been answered, flushed and disconnected. Returns at once with the failed step when setting up
// failed, and without serving anyone when `on_serving` (if given) returns false.
// `own_executable_path` is the service executable's UTF-8 path; callers must live beside it.
[[nodiscard]] std::expected<void, PipeSetupError>
serve_pipe(const std::wstring& log_folder, std::string_view own_executable_path,
           const StopSignal& stop, const MachineAccess& machine, const PipeServerSettings& settings,
           const OnServing& on_serving = {});

} // namespace vemlox::win
