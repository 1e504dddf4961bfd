// The seven operations a request can ask for, as the dispatcher calls them. Each runs on the
// calling thread and returns its payload or one ActionError.
#pragma once

#include "actions/action_error.hpp"
#include "protocol/request.hpp"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vemlox {

class Operations {
  public:
    virtual ~Operations() = default;

    [[nodiscard]] virtual ActionResult<void> set_machine_startup(std::string_view name,
                                                                 bool enabled) = 0;
    [[nodiscard]] virtual ActionResult<void> create_restore_point() = 0;
    // The names of the adapters switched on, in that order.
    [[nodiscard]] virtual ActionResult<std::vector<std::string>> enable_adapters() = 0;
    [[nodiscard]] virtual ActionResult<void>
    disable_adapters(std::span<const std::string> names) = 0;
    [[nodiscard]] virtual ActionResult<void> renew_ip() = 0;
    // Each switched adapter with the servers it had before, in processing order.
    [[nodiscard]] virtual ActionResult<std::vector<DnsSetting>> use_public_dns() = 0;
    [[nodiscard]] virtual ActionResult<void> restore_dns(std::span<const DnsSetting> settings) = 0;
};

} // namespace vemlox
