// The reports a StatusReporter makes, recorded in place of the Service Control Manager, which
// cannot be reached from a test process.
#pragma once

#include "service_runtime/status_reporter.hpp"

#include <chrono>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>
#include <windows.h>

namespace vemlox::win {

class RecordedReports {
  public:
    // Reports go here; while `refuse_with` is nonzero each one is refused with that error.
    [[nodiscard]] StatusReporter::Send sender() {
        return [this](SERVICE_STATUS& status) {
            const std::scoped_lock lock(mutex_);
            reports_.push_back(status);
            if (refuse_with != ERROR_SUCCESS) {
                SetLastError(refuse_with);
                return false;
            }
            return true;
        };
    }

    [[nodiscard]] std::vector<SERVICE_STATUS> reports() const {
        const std::scoped_lock lock(mutex_);
        return reports_;
    }

    // The reports once there are at least `count` of them, or after `timeout` those there are.
    [[nodiscard]] std::vector<SERVICE_STATUS>
    wait_for(std::size_t count,
             std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (reports().size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return reports();
    }

    DWORD refuse_with = ERROR_SUCCESS;

  private:
    mutable std::mutex mutex_;
    std::vector<SERVICE_STATUS> reports_;
};

} // namespace vemlox::win
