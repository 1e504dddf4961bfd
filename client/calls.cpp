// The typed calls of the public header. Each result type is spelled there for the app's reader and
// derived here from the request type's Reply: a call that promises another type does not compile.
#include "typed_call.hpp"

#include <vemlox/client.hpp>

namespace vemlox::client {

std::expected<void, Error> ping(const ClientOptions& options) {
    return call(request::Ping{}, options);
}

std::expected<void, Error> set_machine_startup(std::string name, bool enabled,
                                               const ClientOptions& options) {
    return call(request::SetMachineStartup{std::move(name), enabled}, options);
}

std::expected<void, Error> create_restore_point(const ClientOptions& options) {
    return call(request::CreateRestorePoint{}, options);
}

std::expected<std::vector<std::string>, Error> enable_adapters(const ClientOptions& options) {
    return call(request::EnableAdapters{}, options);
}

std::expected<void, Error> disable_adapters(std::vector<std::string> names,
                                            const ClientOptions& options) {
    return call(request::DisableAdapters{std::move(names)}, options);
}

std::expected<void, Error> renew_ip(const ClientOptions& options) {
    return call(request::RenewIp{}, options);
}

std::expected<std::vector<DnsSetting>, Error> use_public_dns(const ClientOptions& options) {
    return call(request::UsePublicDns{}, options);
}

std::expected<void, Error> restore_dns(std::vector<DnsSetting> settings,
                                       const ClientOptions& options) {
    return call(request::RestoreDns{std::move(settings)}, options);
}

} // namespace vemlox::client
