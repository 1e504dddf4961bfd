#include "actions/ip_renewal.hpp"

#include "protocol/text_result.hpp"

#include <array>
#include <string>

namespace vemlox {

ActionResult<void> perform(const request::RenewIp&, ProgramRunner& runner) {
    const std::array<std::string, 1> arguments{"/renew"};
    // ipconfig fails when any one adapter cannot renew (a cable unplugged), which says nothing
    // about the others, so its exit code and its output are not looked at.
    VEMLOX_RETURN_IF_ERROR(runner.run(IPCONFIG_PROGRAM, arguments, {}));
    return {};
}

} // namespace vemlox
