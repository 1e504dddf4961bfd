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
    VEMLOX_ASSIGN_OR_RETURN(auto output, run_powershell(runner, script, {}));
    VEMLOX_ASSIGN_OR_RETURN_MAPPED(ActionError::os_error, T listed, decode(output));
    return listed;
}

} // namespace

ActionResult<void> check_adapter_name_for_script(std::string_view name) {
    VEMLOX_RETURN_IF_ERROR_MAPPED(ActionError::os_error, check_adapter_name(name));
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
    const std::string_view script = enabled ? ENABLE_ADAPTER_SCRIPT : DISABLE_ADAPTER_SCRIPT;
    VEMLOX_RETURN_IF_ERROR(run_powershell(runner, script, environment));
    return {};
}

ActionResult<std::vector<std::string>> perform(const request::EnableAdapters&,
                                               ProgramRunner& runner) {
    VEMLOX_ASSIGN_OR_RETURN(auto adapters, list_physical_adapters(runner));
    std::vector<std::string> switched_on;
    for (const Row& adapter : adapters) {
        if (!adapter.disabled) {
            continue;
        }
        VEMLOX_RETURN_IF_ERROR(set_adapter_enabled(runner, adapter.name, true));
        switched_on.push_back(adapter.name);
    }
    return switched_on;
}

ActionResult<void> perform(const request::DisableAdapters& request, ProgramRunner& runner) {
    VEMLOX_ASSIGN_OR_RETURN(auto adapters, list_physical_adapters(runner));
    VEMLOX_RETURN_IF_ERROR(check_all_listed(adapters, request.names));
    for (const std::string& name : request.names) {
        VEMLOX_RETURN_IF_ERROR(set_adapter_enabled(runner, name, false));
    }
    return {};
}

} // namespace vemlox
