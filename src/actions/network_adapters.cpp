#include "actions/network_adapters.hpp"

#include "actions/adapter_listing.hpp"
#include "actions/powershell.hpp"
#include "protocol/parse_request.hpp"
#include "protocol/text_result.hpp"

#include <array>

namespace vemlox {

namespace {

// Runs a listing script and reads what it printed with `decode`; output that cannot be read fails
// the action with the reader's text.
template <typename T>
ActionResult<T> run_listing(ProgramRunner& runner, std::string_view script,
                            TextResult<T> (*decode)(std::string_view)) {
    auto output = run_powershell(runner, script, {});
    if (!output) {
        return std::unexpected(std::move(output.error()));
    }
    auto listed = decode(*output);
    if (!listed) {
        return std::unexpected(ActionError::os_error(std::move(listed.error())));
    }
    return std::move(*listed);
}

} // namespace

ActionResult<void> check_adapter_name_for_script(std::string_view name) {
    if (auto checked = check_adapter_name(name); !checked) {
        return std::unexpected(ActionError::os_error(std::move(checked.error())));
    }
    return {};
}

ActionResult<std::vector<Row>> list_physical_adapters(ProgramRunner& runner) {
    return run_listing(runner, PHYSICAL_ADAPTERS_SCRIPT, decode_rows);
}

ActionResult<std::vector<std::string>> list_connected_adapters(ProgramRunner& runner) {
    return run_listing(runner, CONNECTED_ADAPTERS_SCRIPT, decode_names);
}

ActionResult<void> set_adapter_enabled(ProgramRunner& runner, std::string_view name, bool enabled) {
    VEMLOX_RETURN_IF_ERROR(check_adapter_name_for_script(name));
    const std::array environment{EnvironmentPair{std::string(ADAPTER_VARIABLE), std::string(name)}};
    auto output = run_powershell(runner, enabled ? ENABLE_ADAPTER_SCRIPT : DISABLE_ADAPTER_SCRIPT,
                                 environment);
    if (!output) {
        return std::unexpected(std::move(output.error()));
    }
    return {};
}

ActionResult<std::vector<std::string>> enable_adapters(ProgramRunner& runner) {
    auto adapters = list_physical_adapters(runner);
    if (!adapters) {
        return std::unexpected(std::move(adapters.error()));
    }
    std::vector<std::string> switched_on;
    for (const Row& adapter : *adapters) {
        if (!adapter.disabled) {
            continue;
        }
        VEMLOX_RETURN_IF_ERROR(set_adapter_enabled(runner, adapter.name, true));
        switched_on.push_back(adapter.name);
    }
    return switched_on;
}

ActionResult<void> disable_adapters(ProgramRunner& runner, std::span<const std::string> names) {
    auto adapters = list_physical_adapters(runner);
    if (!adapters) {
        return std::unexpected(std::move(adapters.error()));
    }
    VEMLOX_RETURN_IF_ERROR(check_all_listed(*adapters, names));
    for (const std::string& name : names) {
        VEMLOX_RETURN_IF_ERROR(set_adapter_enabled(runner, name, false));
    }
    return {};
}

} // namespace vemlox
